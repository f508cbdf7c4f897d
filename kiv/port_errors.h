// One line for the user on why a port could not be opened, and on what a
// link result code means.
#pragma once
#include <string>

std::string PortOpenMessage(const std::string& path, int openError, int sysError);
std::string ResultMeaning(int resultCode);
