#pragma once
// Build paths are Unix paths; Wine shows the Unix root as drive Z:.

#include <string>

std::string WindowsPath(std::string path);
