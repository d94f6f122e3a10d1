#pragma once

#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

namespace kiv::filesystem {

// The order of names in a folder's listing: by their characters (as PathToText reads them) with
// letters compared in upper case, as case-blind file systems order their folders; names equal that
// way by their exact bytes, so the order is total.
bool NameLess(std::string_view a, std::string_view b);

// The folded form that NameLess compares first.
std::u32string NameOrderKey(std::string_view name);

// Sorts `items` by NameLess of name(item); each name is folded once.
template <typename T, typename Name>
void SortByName(std::vector<T>& items, Name&& name) {
    if (items.size() < 2) return;
    std::vector<std::u32string> keys;
    keys.reserve(items.size());
    for (const T& item : items) keys.push_back(NameOrderKey(name(item)));
    std::vector<std::size_t> order(items.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        if (const int c = keys[x].compare(keys[y]); c != 0) return c < 0;
        return std::string_view(name(items[x])) < std::string_view(name(items[y]));
    });
    std::vector<T> sorted;
    sorted.reserve(items.size());
    for (const std::size_t i : order) sorted.push_back(std::move(items[i]));
    items = std::move(sorted);
}

}  // namespace kiv::filesystem
