#include "kptaglist.h"

KpTagList::~KpTagList() = default;

bool KpTagList::kpIsNewTag(const std::string& key) const
{
    return tagMap.find(key) == tagMap.end();
}

std::string KpTagList::kpGetTag(const std::string& key) const
{
    auto found = tagMap.find(key);
    return found == tagMap.end() ? std::string() : found->second;
}

bool KpTagList::kpAddTag(const std::string& key, const std::string& value)
{
    return tagMap.emplace(key, value).second;
}

bool KpTagList::kpSetTag(const std::string& key, const std::string& value, bool overwrite)
{
    auto found = tagMap.find(key);
    if (found == tagMap.end()) {
        tagMap.emplace(key, value);
        return true;
    }
    if (!overwrite) {
        return false;
    }
    found->second = value;
    return true;
}

void KpTagList::kpRemoveTag(const std::string& key)
{
    tagMap.erase(key);
}

bool KpTagList::kpIsEmpty() const
{
    return tagMap.empty();
}

void KpTagList::kpClear()
{
    tagMap.clear();
}
