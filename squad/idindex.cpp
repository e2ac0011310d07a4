#include "idindex.h"

#include <QHashFunctions>

#include <bit>

namespace squad {
namespace {

constexpr size_t smallestTable = 16;

} // namespace

IdIndex::IdIndex(Hash hash)
    : m_hash(hash) {
    clear();
}

size_t IdIndex::hashOf(QStringView id) const {
    quint64 h = m_hash ? m_hash(id) : qHash(id, QHashSeed::globalSeed());
    // Qt's string hash spreads IDs of digits unevenly over its low bits, which pick the place;
    // this mix (MurmurHash3's finalizer) spreads them evenly.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return size_t(h);
}

void IdIndex::clear(qsizetype ids) {
    m_entries.clear();
    m_entries.reserve(size_t(ids));
    m_freeKeys.clear();
    m_used = 0;
    // At most half full, so that a probe meets an empty place soon.
    m_slots.assign(std::max(smallestTable, std::bit_ceil(size_t(ids) * 2)), Slot{0, -1});
}

size_t IdIndex::place(QStringView id, size_t hash) const {
    const size_t mask = m_slots.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot &slot = m_slots[at];
        if (slot.key < 0 || (slot.hash == hash && m_entries[size_t(slot.key)].id == id))
            return at;
    }
}

int IdIndex::find(QStringView id) const {
    return m_slots[place(id, hashOf(id))].key;
}

int IdIndex::add(const QString &id, size_t hash) {
    Slot &slot = m_slots[place(id, hash)];
    if (slot.key >= 0) {
        ++m_entries[size_t(slot.key)].holders;
        return slot.key;
    }
    int key;
    if (m_freeKeys.empty()) {
        key = int(m_entries.size());
        m_entries.push_back({id, hash, 1});
    } else {
        key = m_freeKeys.back();
        m_freeKeys.pop_back();
        m_entries[size_t(key)] = {id, hash, 1};
    }
    slot = {hash, key};
    if (size_t(++m_used) * 2 > m_slots.size())
        grow(m_slots.size() * 2);
    return key;
}

int IdIndex::remove(int key) {
    Entry &entry = m_entries[size_t(key)];
    if (--entry.holders > 0)
        return entry.holders;
    // Linear probing without tombstones: entries behind the freed place that could sit in it
    // move up, so no probe stops short of them.
    const size_t mask = m_slots.size() - 1;
    size_t hole = place(entry.id, entry.hash);
    for (size_t at = (hole + 1) & mask; m_slots[at].key >= 0; at = (at + 1) & mask) {
        const size_t home = m_slots[at].hash & mask;
        // Whether `home` lies cyclically in (hole, at]: then the entry stays where it is.
        const bool staysPut =
            hole <= at ? (home > hole && home <= at) : (home > hole || home <= at);
        if (!staysPut) {
            m_slots[hole] = m_slots[at];
            hole = at;
        }
    }
    m_slots[hole] = {0, -1};
    entry = {};
    m_freeKeys.push_back(key);
    --m_used;
    return 0;
}

void IdIndex::grow(size_t capacity) {
    std::vector<Slot> old = std::exchange(m_slots, std::vector<Slot>(capacity, Slot{0, -1}));
    const size_t mask = capacity - 1;
    for (const Slot &slot : old) {
        if (slot.key < 0)
            continue;
        size_t at = slot.hash & mask;
        while (m_slots[at].key >= 0)
            at = (at + 1) & mask;
        m_slots[at] = slot;
    }
}

} // namespace squad
