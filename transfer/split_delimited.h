// Cutting a text into pieces at a delimiter that the text itself names.
#pragma once

#include <string>
#include <vector>

// A growable array of texts, indexed from 0.
using TDynamicArrayStr = std::vector<std::string>;

// Replaces the pieces with those of the text. The delimiter is its first
// character; piece i runs from delimiter i to delimiter i + 1 (the first
// character being delimiter 0), the last one to the end of the text. So there are
// as many pieces as delimiter characters, empty ones included, and an empty
// text gives none. Quotes, spaces and escapes mean nothing. Never fails.
void SplitDelimited(const std::string& text, TDynamicArrayStr& pieces);
