// Path helpers shared by every part of the program. Paths are UTF-8 with '/'
// as the separator. The splitting helpers return views into the caller's
// string and never allocate.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The text after the last '/', or the whole path when it has none.
std::string_view FileNamePart(std::string_view path);

// The last '.' of the file-name part and what follows it. Empty when the path
// holds no '/' at all or its file-name part holds no '.' ("/a.b/name" has none).
std::string_view FileExtension(std::string_view path);

// The program file's folder, ending in '/'. False when it cannot be had.
bool GetModuleFolder(std::string& folder);

// The path without the extension of its file name: up to the last '.' after
// the last '/', or the whole path when the file name holds no '.'.
std::string_view WithoutExtension(std::string_view path);

// True for anything that exists at the path, folders included.
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// The longest start of text of at most most bytes that ends on a UTF-8
// character boundary: its length.
size_t Utf8PrefixLength(std::string_view text, size_t most);

// ASCII case-insensitive comparison, as the command line and the lists need.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
