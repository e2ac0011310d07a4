#include "idindex.h"

#include <QRandomGenerator>

#include <bit>
#include <cstring>

namespace squad {
namespace {

constexpr size_t smallestTable = 16;

// SipHash-1-3 over the ID's UTF-16 units, keyed afresh in every run, so that no file can be made
// whose IDs pile up in one place of the table. Qt's qHash would do as well but takes three
// times as long on short texts here, which a load of 100,000 members feels.
class SipHash {
public:
    SipHash() { QRandomGenerator::system()->fillRange(m_key, 2); }

    quint64 operator()(QStringView text) const {
        const auto *bytes = reinterpret_cast<const unsigned char *>(text.utf16());
        const size_t length = size_t(text.size()) * 2;
        quint64 v0 = m_key[0] ^ 0x736f6d6570736575ULL;
        quint64 v1 = m_key[1] ^ 0x646f72616e646f6dULL;
        quint64 v2 = m_key[0] ^ 0x6c7967656e657261ULL;
        quint64 v3 = m_key[1] ^ 0x7465646279746573ULL;
        const auto round = [&] {
            v0 += v1;
            v1 = std::rotl(v1, 13) ^ v0;
            v0 = std::rotl(v0, 32);
            v2 += v3;
            v3 = std::rotl(v3, 16) ^ v2;
            v0 += v3;
            v3 = std::rotl(v3, 21) ^ v0;
            v2 += v1;
            v1 = std::rotl(v1, 17) ^ v2;
            v2 = std::rotl(v2, 32);
        };
        const size_t whole = length & ~size_t(7);
        for (size_t i = 0; i < whole; i += 8) {
            quint64 m;
            std::memcpy(&m, bytes + i, 8);
            v3 ^= m;
            round();
            v0 ^= m;
        }
        quint64 last = quint64(length) << 56;
        for (size_t i = whole; i < length; ++i)
            last |= quint64(bytes[i]) << (8 * (i - whole));
        v3 ^= last;
        round();
        v0 ^= last;
        v2 ^= 0xff;
        round();
        round();
        round();
        return v0 ^ v1 ^ v2 ^ v3;
    }

private:
    quint64 m_key[2];
};

} // namespace

IdIndex::IdIndex(Hash hash)
    : m_hash(hash) {
    clear();
}

size_t IdIndex::hashOf(QStringView id) const {
    static const SipHash keyed;
    return size_t(m_hash ? m_hash(id) : keyed(id));
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
