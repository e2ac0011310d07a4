#pragma once

#include <QString>
#include <QStringView>

#include <vector>

namespace squad {

// The distinct member IDs of a squad and how many members hold each. Each ID gets a key, a
// small number that stays the same while any member holds the ID, so members can be filed
// under it without a copy of the text. Lookups go through an open-addressing table of the IDs'
// 64-bit hashes; texts are compared only when hashes are equal. Indexing 100,000 members takes
// a few milliseconds where a QHash<QString, int> took tens.
class IdIndex {
public:
    using Hash = size_t (*)(QStringView id);
    // `hash` for tests that need IDs whose hashes collide.
    explicit IdIndex(Hash hash = nullptr);

    // Empties the index, ready for about `ids` distinct IDs.
    void clear(qsizetype ids = 0);
    // One more holder of `id` (the empty ID too). Returns its key.
    int add(const QString &id) { return add(id, hashOf(id)); }
    // The same with the ID's hashOf() at hand. Indexing many IDs, hash them first and
    // prefetch() the places of those a few ahead: the table's memory then arrives in time.
    int add(const QString &id, size_t hash);
    size_t hashOf(QStringView id) const;
    void prefetch(size_t hash) const { __builtin_prefetch(&m_slots[hash & (m_slots.size() - 1)]); }
    // One holder fewer of the ID filed under `key`; when none is left, its key is free for
    // another ID. Returns the holders left.
    int remove(int key);
    int holders(int key) const { return m_entries[size_t(key)].holders; }
    const QString &id(int key) const { return m_entries[size_t(key)].id; }
    // The ID's key, or -1 when no member holds it.
    int find(QStringView id) const;
    qsizetype size() const { return m_used; }

private:
    struct Entry {
        QString id;
        size_t hash = 0;
        int holders = 0;
    };
    // A place of the table: the key of the entry filed there, -1 when empty.
    struct Slot {
        size_t hash;
        int key;
    };

    // The place of `id`, or the empty place where it would go.
    size_t place(QStringView id, size_t hash) const;
    void grow(size_t capacity);

    Hash m_hash;
    std::vector<Slot> m_slots;
    std::vector<Entry> m_entries;
    std::vector<int> m_freeKeys;
    qsizetype m_used = 0;
};

} // namespace squad
