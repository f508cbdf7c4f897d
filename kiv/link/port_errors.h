// One line for the user on why a port could not be opened, on what a link
// result code means, and on a transfer a signal cancelled.
#pragma once
#include <string>

std::string PortOpenMessage(const std::string& path, int openError, int sysError);
std::string ResultMeaning(int resultCode);
// The line for a transfer cancelled by SIGINT, SIGTERM or SIGHUP.
std::string CancelMessage(int signal);
