#include "pageaddress.h"

#include "text.h"

void ReturnUrl(const std::string &URL, std::vector<std::string> &ArrayUrl, int16_t Repeat)
{
    const auto items = splitAt(URL, ',');
    ArrayUrl.clear();
    for (int pass = 0; pass < Repeat; ++pass) {
        for (const std::string_view item : items)
            ArrayUrl.emplace_back(trimmed(item, " "));
    }
}

std::string pageAddress(const std::vector<std::string> &arrayUrl, int serverIndex, const std::string &page)
{
    if (serverIndex < 0 || static_cast<size_t>(serverIndex) >= arrayUrl.size())
        return page;
    return arrayUrl[static_cast<size_t>(serverIndex)] + page;
}
