// The null-ended list of C strings that exec and posix_spawn take, over
// copies of the strings that live as long as the list.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class CStringList {
public:
    explicit CStringList(std::vector<std::string> items) : m_items(std::move(items)) {
        for (std::string& item : m_items) m_pointers.push_back(item.data());
        m_pointers.push_back(nullptr);
    }
    // Held pointers go into the strings: neither may be copied or moved.
    CStringList(const CStringList&) = delete;
    CStringList& operator=(const CStringList&) = delete;

    char* const* data() const { return m_pointers.data(); }

private:
    std::vector<std::string> m_items;
    std::vector<char*> m_pointers;
};

}  // namespace testsupport
