// kiv show: its options on the command line and the command behind them.
#pragma once
#include <CLI/CLI.hpp>
#include <string>
#include "kiv_commands.h"

struct ShowArgs {
    std::string input;
    bool html = false;
    std::string page;      // --html: the page to write; default: FILE with ".html"
    int width = -1;        // the line width; -1: the terminal's, else COLUMNS, else 80
    std::string columns;   // --columns: titles or numbers, comma-separated; "" for all
    bool vertical = false;
};

CLI::App* AddShowCommand(CLI::App* app, ShowArgs* args);
int ShowCommand(const CommonOptions& o, const ShowArgs& args);
// show --html of a table held in memory (export --html); shown names it.
int WriteKcsvPage(const std::string& kcsv, const std::string& shown, const std::string& page, bool force,
                  std::vector<std::string>* written, std::string* error);
