# awk -v mode=MODE -f help2roff.awk [GENERAL_HELP] HELP
# Turns a program's --help (as kiv prints it: a description, a "Usage:"
# line, option groups whose entries start in column 3 with their text in
# a column of their own, an "Exit status:" table) into manual page text,
# so that the page says what --help says and man fills it to any width.
#   mode=command   one command's section: its description, usage, options
#                  and the exit statuses it gives (GENERAL_HELP, the
#                  program's own help, says which meanings are the usual)
#   mode=synopsis  the usage line
#   mode=options   the entries of the "Options:" group
#   mode=exits     the exit table and the text after it
#   mode=examples  a README's console block (the lines between ```console
#                  and ``` after the heading given as -v heading=...),
#                  verbatim, long lines folded at a space
# Text is escaped for roff: backslashes, hyphens, and a leading . or '.

BEGIN {
    if (column == "")
        column = 30   # where the option texts of kiv's help start
}

function esc(s,    n, i, w) {
    gsub(/\\/, "\\e", s)
    gsub(/-/, "\\-", s)
    if (s ~ /^[.']/)
        s = "\\&" s
    # A path is not hyphenated, so that it can be copied as it stands.
    if (mode != "examples" && s ~ /\//) {
        n = split(s, w, " ")
        s = ""
        for (i = 1; i <= n; i++)
            s = s (i > 1 ? " " : "") (w[i] ~ /\// ? "\\%" w[i] : w[i])
    }
    return s
}

function trim(s) {
    sub(/^ +/, "", s)
    sub(/ +$/, "", s)
    return s
}

# Display columns of a UTF-8 line: a character of the CJK ranges (lead
# bytes E3 to ED, and EF BC to EF BD for full-width forms) takes two.
function columns(s,    n, i, c) {
    n = 0
    for (i = 1; i <= length(s); i++) {
        c = substr(s, i, 1)
        if (c < "\200" || c >= "\300")
            n += (c >= "\343" && c <= "\355") ? 2 : 1
    }
    return n
}

# An item of an option group: its name and text so far.
function flush_item() {
    if (item_name == "")
        return
    if (group == "exit") {
        exit_code[++exits] = item_name
        exit_text[exits] = item_text
    } else if (group == "Options:" || group == "Positionals:") {
        if (!(mode == "command" && item_name == "-h,--help"))
            items[++nitems] = ".TP\n\\fB" esc(item_name) "\\fR\n" esc(item_text)
    }
    item_name = item_text = ""
}

# The program and command names that start the usage line.
function command_words(    n, i, word, words) {
    n = split(usage, word, " ")
    words = word[1]
    for (i = 2; i <= n && word[i] ~ /^[a-z][a-z0-9-]*$/; i++)
        words = words " " word[i]
    return words
}

function read_help(line,    at) {
    if (line ~ /^Usage: /) {
        usage = substr(line, 8)
        state = "groups"
        return
    }
    if (state != "groups") {
        description = trim(description " " line)
        return
    }
    if (line ~ /^[A-Z][A-Za-z ]*:$/) {
        flush_item()
        group = line == "Exit status:" ? "exit" : line
        return
    }
    if (line == "") {
        flush_item()
        return
    }
    if (group == "exit" && line ~ /^  [0-9]+ /) {
        flush_item()
        line = substr(line, 3)
        at = index(line, " ")
        item_name = substr(line, 1, at - 1)
        item_text = trim(substr(line, at))
    } else if (line ~ /^  [^ ]/ && group != "exit") {
        # A name narrower than the column is padded to it; a wider one
        # has its text on the lines below.
        flush_item()
        at = substr(line, column, 1) == " " ? column : length(line)
        item_name = trim(substr(line, 1, at))
        item_text = trim(substr(line, at + 1))
    } else if (line ~ /^   / && item_name != "") {
        item_text = trim(item_text " " trim(line))
    } else if (group == "exit") {
        flush_item()
        after = trim(after " " trim(line))
    }
}

function print_examples(line,    width, cut, rest) {
    width = 72
    while (columns(line) > width) {
        rest = line
        cut = 0
        # the last space that leaves the head within the width
        while (match(rest, / [^ ]*$/)) {
            rest = substr(rest, 1, RSTART - 1)
            if (columns(rest) <= width && rest !~ /^ *$/) {
                cut = length(rest)
                break
            }
        }
        if (!cut)
            break
        print esc(substr(line, 1, cut))
        line = "    " substr(line, cut + 2)
    }
    print esc(line)
}

mode == "examples" {
    if (index($0, heading) == 1 && length($0) == length(heading))
        found = 1
    else if (found && $0 == "```console")
        block = 1
    else if (block && $0 == "```")
        exit
    else if (block)
        print_examples($0)
    next
}

mode == "command" && FNR == NR && ARGC == 3 {
    read_help($0)
    next
}

mode == "command" && FNR == 1 && ARGC == 3 {
    flush_item()
    for (i = 1; i <= exits; i++)
        usual[exit_code[i]] = exit_text[i]
    exits = nitems = 0
    state = group = description = usage = after = ""
}

{ read_help($0) }

END {
    if (mode == "examples")
        exit
    flush_item()
    if (mode == "synopsis") {
        # One line: help2man takes a line that starts with [ for a section.
        print "\\fB" esc(command_words()) "\\fR " esc(trim(substr(usage, length(command_words()) + 1)))
        print ".br"
    } else if (mode == "options") {
        for (i = 1; i <= nitems; i++)
            print items[i]
    } else if (mode == "exits") {
        for (i = 1; i <= exits; i++)
            print ".TP\n" exit_code[i] "\n" esc(exit_text[i])
        if (after != "")
            print ".PP\n" esc(after)
    } else if (mode == "command") {
        print ".SS \"" esc(command_words()) "\""
        print esc(description)
        print ".PP\nUsage: \\fB" esc(usage) "\\fR"
        for (i = 1; i <= nitems; i++)
            print items[i]
        # The statuses by number, and the meanings that are the command's own.
        line = own = ""
        for (i = 1; i <= exits; i++) {
            line = line (i == 1 ? "" : i == exits ? " or " : ", ") exit_code[i]
            if (exit_text[i] != usual[exit_code[i]])
                own = own (own == "" ? "; here " exit_code[i] " means " : ", " exit_code[i] " ") exit_text[i]
        }
        if (exits)
            print ".PP\nExit status: " esc(line) " (see EXIT STATUS)" esc(own) "."
    }
}
