#pragma once
// Which client root patcher-cli works on. A root is never made up: a --root that is not
// a folder is an error, and so is a folder of a client instead of its root (the game folder,
// which holds archives but no "velkar" folder, or one beside "velkar" such as "patcher").
// Without --root the working folder or its parent must hold the client's "velkar" folder.

#include <string>

// The root, or false with a one-line reason (Russian).
bool FindClientRoot(const std::u16string& given, std::u16string* root, std::string* error);
