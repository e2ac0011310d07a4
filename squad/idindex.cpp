#include "idindex.h"

#include <bit>
#include <cstring>

namespace squad {

void IdIndex::reset(int ids) {
    // At most three quarters full.
    const std::size_t size = std::bit_ceil(std::size_t(ids) * 4 / 3 + 16);
    m_slots.assign(size, Slot{});
    m_used = 0;
}

std::uint32_t IdIndex::hashOf(const QString &id) {
    // IDs are short runs of digits; eight bytes at a time, each mixed in by a multiply.
    const auto *bytes = reinterpret_cast<const unsigned char *>(id.constData());
    std::size_t left = std::size_t(id.size()) * sizeof(QChar);
    std::uint64_t h = left * 0x9E3779B97F4A7C15ULL;
    for (; left >= 8; left -= 8, bytes += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes, 8);
        h = (h ^ word) * 0xBF58476D1CE4E5B9ULL;
        h ^= h >> 29;
    }
    if (left > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes, left);
        h = (h ^ word) * 0xBF58476D1CE4E5B9ULL;
    }
    h ^= h >> 32;
    return std::uint32_t(h);
}

std::size_t IdIndex::find(const QString &id, std::uint32_t hash) const {
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot &slot = m_slots[i];
        if (slot.member < 0 || (slot.hash == hash && m_ids[std::size_t(slot.member)] == id))
            return i;
    }
}

void IdIndex::grow() {
    std::vector<Slot> old = std::move(m_slots);
    m_slots.assign(old.size() * 2, Slot{});
    const std::size_t mask = m_slots.size() - 1;
    for (const Slot &slot : old) {
        if (slot.member < 0)
            continue;
        std::size_t i = slot.hash & mask;
        while (m_slots[i].member >= 0)
            i = (i + 1) & mask;
        m_slots[i] = slot;
    }
}

int IdIndex::add(int member, const QString &id) {
    if (m_slots.empty() || (m_used + 1) * 4 > m_slots.size() * 3)
        m_slots.empty() ? reset(0) : grow();
    const std::uint32_t hash = hashOf(id);
    Slot &slot = m_slots[find(id, hash)];
    if (slot.member < 0) {
        slot = Slot{hash, member, 0};
        ++m_used;
    }
    return ++slot.holders;
}

int IdIndex::remove(int member, const QString &id, int another) {
    const std::uint32_t hash = hashOf(id);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = find(id, hash);
    Slot &slot = m_slots[i];
    if (--slot.holders > 0) {
        if (slot.member == member)
            slot.member = another;
        return slot.holders;
    }
    // Deleted by moving back the slots behind it that would otherwise no longer be found.
    --m_used;
    for (std::size_t j = (i + 1) & mask; m_slots[j].member >= 0; j = (j + 1) & mask) {
        const std::size_t home = m_slots[j].hash & mask;
        // Whether `home` lies cyclically in (i, j]: then the slot at j stays.
        const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (!stays) {
            m_slots[i] = m_slots[j];
            i = j;
        }
    }
    m_slots[i] = Slot{};
    return 0;
}

void IdIndex::shift(int first, int by) {
    for (Slot &slot : m_slots) {
        if (slot.member >= first)
            slot.member += by;
    }
}

} // namespace squad
