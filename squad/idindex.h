#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace squad {

// How many members hold each ID, kept as members are edited: the shared-ID rule of the squad
// check. Lean because it sees every member of a large squad: it copies no text but compares
// with the ID of one member holding it, taken from `ids` (the texts under which the members are
// counted, by position), and a slot is twelve bytes.
class IdIndex {
public:
    explicit IdIndex(const std::vector<QString> &ids)
        : m_ids(ids) {}

    // Empties the index and makes room for `ids` different IDs.
    void reset(int ids);
    // Counts `member` as holding `id` (not empty, and ids[member] == id); returns how many
    // hold it now.
    int add(int member, const QString &id);
    // Counts `member` no longer as holding `id`, which it held. `another` names another member
    // that holds it, when there is one, and ids[another] must be `id`. Returns how many hold it
    // now.
    int remove(int member, const QString &id, int another);
    // Members from `first` on moved by `by` places.
    void shift(int first, int by);

private:
    struct Slot {
        std::uint32_t hash = 0;
        std::int32_t member = -1; // -1: free
        std::int32_t holders = 0;
    };

    static std::uint32_t hashOf(const QString &id);
    // The slot of `id`, or the free slot where it would go.
    std::size_t find(const QString &id, std::uint32_t hash) const;
    void grow();

    const std::vector<QString> &m_ids;
    std::vector<Slot> m_slots;
    std::size_t m_used = 0;
};

} // namespace squad
