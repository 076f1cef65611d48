#pragma once

#include <string>
#include <string_view>

namespace zul::platform {

// The application folder: the folder of the plug-in's own library file, with
// no trailing separator. Set once at load; tests point it elsewhere.
const std::string& appFolder();
void setAppFolder(std::string folder);

// Maps a path written from the application folder with backslashes
// ("\ZUL\ZULTMP.zul"), as the plug-in names its files, onto the file system. When the path is a
// symbolic link, the result is where the link points (dangling or not).
std::string appPath(std::string_view relative);

// For a file directly in the application folder: where the package's link
// points, one step only (a link found there is not followed), else path.
std::string followAppLink(const std::string& path);

} // namespace zul::platform
