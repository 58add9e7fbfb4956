#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Lays the comma-separated server list out Repeat times into ArrayUrl (S1..Sn, S1..Sn, ...),
// each item without its surrounding spaces; empty items stay as empty entries. A Repeat below 1
// leaves ArrayUrl empty.
void ReturnUrl(const std::string &URL, std::vector<std::string> &ArrayUrl, int16_t Repeat);

// A page address: the server entry in use followed directly by the page text; nothing is
// inserted or removed between them. An index outside the array gives the page text alone.
std::string pageAddress(const std::vector<std::string> &arrayUrl, int serverIndex, const std::string &page);
