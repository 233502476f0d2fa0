#ifndef DOVODA_KPTAGLIST_H
#define DOVODA_KPTAGLIST_H

#include <map>
#include <string>

// Key/value tags of an image header. Keys compare as byte strings.
class KpTagList {
public:
    virtual ~KpTagList();

    bool kpIsNewTag(const std::string& key) const;
    // The value of key, or an empty string when the key is absent.
    std::string kpGetTag(const std::string& key) const;
    // Inserts only when the key is absent; tells whether it inserted.
    bool kpAddTag(const std::string& key, const std::string& value);
    // Inserts when absent, replaces when present and overwrite is true;
    // tells whether the map changed.
    bool kpSetTag(const std::string& key, const std::string& value, bool overwrite);
    void kpRemoveTag(const std::string& key);

    bool kpIsEmpty() const;
    void kpClear();

private:
    std::map<std::string, std::string> tagMap;
};

#endif
