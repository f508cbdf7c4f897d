// What kiv's --help prints besides the option tables: every line fits an
// 80-column terminal, and each command lists the exit statuses it can give.
// The manual page is made from these texts, so they are its only source.
#pragma once
#include <CLI/CLI.hpp>
#include <string>

// The formatter every command's help goes through: descriptions wrapped at
// spaces so that no line is wider than kHelpWidth.
std::shared_ptr<CLI::Formatter> WrappingFormatter(void);

// The text wrapped to width columns, the lines after the first indented by
// indent spaces (UTF-8 characters count one column each).
std::string WrapText(const std::string& text, size_t width, size_t indent);

// kiv --help's footer: the whole exit table.
std::string AllExitStatuses(void);

// Gives each command of app the footer with the statuses it can give.
void SetExitFooters(CLI::App* app);

// Where the package puts the documents the help texts point to.
#define KIV_DOC_DIR "/usr/share/doc/kiv"
