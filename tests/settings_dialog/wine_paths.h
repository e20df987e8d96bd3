// Paths of the build tree (Linux paths) as a program under Wine names them.
#pragma once

#include <string>

namespace pdt::test {

// "/a/b" -> "Z:\a\b": Wine shows the Linux root as drive Z:.
inline std::string WinePath(std::string unixPath) {
    for (char& c : unixPath)
        if (c == '/') c = '\\';
    return "Z:" + unixPath;
}

}  // namespace pdt::test
