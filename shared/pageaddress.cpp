#include "pageaddress.h"

namespace {

std::string withoutSpaces(const std::string &s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

} // namespace

void ReturnUrl(const std::string &URL, std::vector<std::string> &ArrayUrl, int16_t Repeat)
{
    // The trailing comma closes the last item, so every pass adds one entry per item.
    const std::string text = URL + ",";
    ArrayUrl.clear();
    for (int pass = 0; pass < Repeat; ++pass) {
        std::string item;
        for (const char c : text) {
            if (c != ',') {
                item += c;
                continue;
            }
            ArrayUrl.push_back(withoutSpaces(item));
            item.clear();
        }
    }
}

std::string pageAddress(const std::vector<std::string> &arrayUrl, int serverIndex,
                        const std::string &page)
{
    if (serverIndex < 0 || static_cast<size_t>(serverIndex) >= arrayUrl.size())
        return page;
    return arrayUrl[static_cast<size_t>(serverIndex)] + page;
}
