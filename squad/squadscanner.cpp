#include "squadscanner.h"

#include "readertext.h"
#include "valuestore.h"

#include <QLocale>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace squad::reading {
namespace {

enum class Tag { Other, Squad, Member, Name, Email, Web, Picture, Title, Icq, Remark };

struct TagName {
    std::string_view name;
    Tag tag = Tag::Other;
};

// Our tag names by their first letter: no two of them share one.
constexpr std::array<TagName, 256> tagsByFirstLetter = [] {
    std::array<TagName, 256> table{};
    for (const TagName &t :
         {TagName{"name"sv, Tag::Name}, TagName{"email"sv, Tag::Email}, TagName{"web"sv, Tag::Web},
          TagName{"picture"sv, Tag::Picture}, TagName{"title"sv, Tag::Title},
          TagName{"icq"sv, Tag::Icq}, TagName{"remark"sv, Tag::Remark},
          TagName{"member"sv, Tag::Member}, TagName{"squad"sv, Tag::Squad}})
        table[static_cast<unsigned char>(t.name[0])] = t;
    return table;
}();

constexpr std::array<bool, 256> nameEnds = [] {
    std::array<bool, 256> table{};
    for (char c : {' ', '\t', '\r', '\n', '>', '/'})
        table[static_cast<unsigned char>(c)] = true;
    return table;
}();

// The tag whose name starts at `p` (behind "<" or "</"), when the name is one of ours, whole,
// and followed by a blank, ">", "/" or the end of the text; `nameEnd` is set behind it.
inline Tag knownTag(const char *p, const char *end, const char *&nameEnd) {
    const TagName &known = tagsByFirstLetter[static_cast<unsigned char>(*p)];
    const size_t size = known.name.size();
    if (known.tag == Tag::Other || size_t(end - p) < size ||
        std::memcmp(p, known.name.data(), size) != 0 ||
        (p + size < end && !nameEnds[static_cast<unsigned char>(p[size])]))
        return Tag::Other;
    nameEnd = p + size;
    return known.tag;
}

// Where an element's value goes: the squad property or the member field, or -1 for none.
constexpr int propertyOf[] = {-1,
                              -1,
                              -1,
                              int(Property::Name),
                              int(Property::Mail),
                              int(Property::Web),
                              int(Property::Picture),
                              int(Property::Title),
                              -1,
                              -1};
constexpr int fieldOf[] = {-1, -1, -1, int(Field::Name), int(Field::Mail),
                           -1, -1, -1, int(Field::Icq),  int(Field::Remark)};
static_assert(std::size(propertyOf) == size_t(Tag::Remark) + 1 && int(Tag::Icq) == 8);

// The end of a start tag: where it ends, whether it closed itself with "/>", and whether its ">"
// was there at all before the next "<".
struct StartTag {
    const char *behind = nullptr;
    bool selfClosing = false;
    bool closed = false;
};

// Reads the attributes of a start tag from `p`, just behind its name, up to `limit`, the next
// "<" (or the end of the text): an attribute value cannot hold "<", so the tag ends before it.
// `onAttribute(name, valueBegin, valueEnd)` is called for every attribute with a value. Returns
// false, with `failure` set, for a quoted value whose closing quote is missing before the next
// tag; one cut off by the end of the text goes as far as it goes, and the tag is not closed.
template <typename OnAttribute>
bool readStartTag(const char *p, const char *limit, const char *textEnd, StartTag &tag,
                  ScanFailure &failure, OnAttribute onAttribute) {
    for (;;) {
        while (p < limit && isBlank(*p))
            ++p;
        if (p == limit) {
            tag.behind = limit; // the tag is not closed before the next one: take it as ended
            return true;
        }
        if (*p == '>') {
            tag.behind = p + 1;
            tag.closed = true;
            return true;
        }
        if (*p == '/' && p + 1 < limit && p[1] == '>') {
            tag.behind = p + 2;
            tag.closed = tag.selfClosing = true;
            return true;
        }
        const char *name = p;
        while (p < limit && isNameChar(*p))
            ++p;
        if (p == name) { // a stray character
            ++p;
            continue;
        }
        const std::string_view attribute(name, size_t(p - name));
        while (p < limit && isBlank(*p))
            ++p;
        if (p == limit || *p != '=')
            continue; // an attribute without a value counts for nothing
        ++p;
        while (p < limit && isBlank(*p))
            ++p;
        if (p < limit && (*p == '"' || *p == '\'')) {
            const char quote = *p;
            const char *value = p + 1;
            const char *valueEnd = find(value, limit, quote);
            if (!valueEnd && limit == textEnd) {
                onAttribute(attribute, value, limit);
                tag.behind = limit;
                return true;
            }
            if (!valueEnd) {
                failure.kind = ReadFailure::UnclosedAttribute;
                failure.at = name;
                failure.what = QStringLiteral("The value of the attribute %1 has no closing %2.")
                                   .arg(QString::fromUtf8(attribute.data(), attribute.size()),
                                        quote == '"' ? QStringLiteral("double quote")
                                                     : QStringLiteral("single quote"));
                return false;
            }
            onAttribute(attribute, value, valueEnd);
            p = valueEnd + 1;
        } else { // unquoted, as people sometimes write it: up to a blank or the tag's end
            const char *value = p;
            while (p < limit && !isBlank(*p) && *p != '>' &&
                   !(*p == '/' && p + 1 < limit && p[1] == '>'))
                ++p;
            onAttribute(attribute, value, p);
        }
    }
}

// The members' spans as they are found, in blocks: no block is copied to grow, and each is
// freed once its members are converted, so that the spans never stand beside a copy of
// themselves nor beside all the strings made of them.
class MemberList {
public:
    size_t size() const { return m_size; }

    MemberSpans &emplace_back() {
        if (m_size % blockSize == 0)
            m_blocks.push_back(std::make_unique<MemberSpans[]>(blockSize));
        return m_blocks.back()[m_size++ % blockSize];
    }
    void push_back(const MemberSpans &spans) { emplace_back() = spans; }

    // Calls `take` for every member in order and empties the list.
    template <typename Take> void drain(Take take) {
        for (size_t b = 0; b < m_blocks.size(); ++b) {
            const size_t count = std::min(blockSize, m_size - b * blockSize);
            for (size_t i = 0; i < count; ++i)
                take(std::as_const(m_blocks[b][i]));
            m_blocks[b].reset();
        }
        m_blocks.clear();
        m_size = 0;
    }

private:
    static constexpr size_t blockSize = 4096;
    std::vector<std::unique_ptr<MemberSpans[]>> m_blocks;
    size_t m_size = 0;
};

class Scanner {
public:
    Scanner(const ScanText &text, const ScanWay &way)
        : m_begin(text.begin)
        , m_end(text.end)
        , m_straightPath(way.writersMembers)
        , m_memberBudget(way.memberBudget)
        , m_cancelled(way.cancelled)
        , m_store(text.charset, text.high, text.begin, text.end, way.sharedBlock) {
        if (way.releaseRead)
            m_store.releaseRead();
    }

    // Fills `data`; returns false with `failure` set when a value has no end.
    bool run(SquadData &data) {
        if (m_end - m_begin > INT32_MAX) { // a span's size
            m_failure.kind = ReadFailure::TooLarge;
            m_failure.at = m_begin;
            m_failure.what = QStringLiteral("The file is too large to be read.");
            return false;
        }
        const char *p = m_begin;
        const auto stopped = [&] {
            if (!m_cancelled || !m_cancelled->load(std::memory_order_relaxed))
                return false;
            m_failure.kind = ReadFailure::Cancelled;
            m_failure.at = m_begin;
            m_failure.what = QStringLiteral("Reading was cancelled.");
            return true;
        };
        // A look at the flag every so many tags costs nothing and stops a big file in time.
        unsigned tags = 0;
        while (const char *lt = find(p, m_end, '<')) {
            p = tag(lt);
            if (!p || (++tags % 65536 == 0 && stopped()))
                return false;
        }
        if (stopped())
            return false;
        closeMember();
        m_truncated = m_cut || (m_squadSeen && !m_squadSelfClosing && !m_squadEnded);
        if (!m_squadSeen && !m_membersSeen) {
            m_failure.kind = ReadFailure::NoSquad;
            m_failure.at = m_begin;
            m_failure.what = QStringLiteral("The file holds no squad: it has neither a <squad> "
                                            "nor a <member> tag.");
            return false;
        }

        // Reference counts and member positions are ints.
        if (m_store.notedCount() >= INT_MAX - 1 || m_members.size() >= size_t(INT_MAX - 1)) {
            m_failure.kind = ReadFailure::TooLarge;
            m_failure.at = m_begin;
            m_failure.what = QStringLiteral("The file is too large to be read.");
            return false;
        }
        m_store.allocate();
        for (int p = 0; p < PropertyCount; ++p)
            data.properties[p] = m_store.take(m_squad[p]);
        QList<Member> members;
        members.reserve(qsizetype(m_members.size()) + 1); // room for the spare column
        members.resize(qsizetype(m_members.size()));
        Member *member = members.data();
        m_members.drain([&](const MemberSpans &spans) {
            for (int f = 0; f < FieldCount; ++f)
                (*member)[f] = m_store.take(spans[f]);
            ++member;
        });
        m_store.commit();
        data.mmbdata.assign(std::move(members));
        return true;
    }

    const ScanFailure &failure() const { return m_failure; }
    const ValueStore &store() const { return m_store; }
    bool truncated() const { return m_truncated; }

private:
    // Handles the markup at `lt`; returns where scanning goes on, or nullptr on a failure.
    const char *tag(const char *lt) {
        const char *p = lt + 1;
        if (p == m_end) {
            m_cut = true;
            return m_end;
        }
        if (const Markup *markup = markupAt(lt, m_end))
            return skipMarkup(lt, *markup);
        if (*p == '!') {
            const char *gt = find(p, m_end, '>');
            m_cut |= !gt;
            return gt ? gt + 1 : m_end;
        }
        const bool endTag = *p == '/';
        if (endTag && ++p == m_end) {
            m_cut = true;
            return m_end;
        }
        const char *name = p;
        const Tag which = knownTag(name, m_end, p);
        if (which == Tag::Other) {
            m_cut |= !behindTag(lt, m_end);
            return name; // a tag that is not read, stray text or a cut-off tag
        }
        if (endTag) {
            // "</squad" at the very end, without its ">", as people publish it, ends the squad.
            if (which == Tag::Member)
                closeMember();
            else if (which == Tag::Squad)
                m_squadEnded = true;
            return p;
        }
        switch (which) {
        case Tag::Other:
            return p;
        case Tag::Member:
            if (m_members.size() + (m_inMember ? 1 : 0) >= size_t(m_memberBudget))
                return tooManyMembers(lt);
            if (m_straightPath) {
                if (const char *behind = writersMember(lt))
                    return behind;
            }
            return memberStart(p);
        case Tag::Squad:
            if (m_squadSeen || m_membersSeen)
                return p;
            m_squadSeen = true;
            p = attributes(p, [&](std::string_view attribute, const char *b, const char *e) {
                if (attribute == "nick"sv && !(m_squadFound & 1u)) {
                    m_squadFound |= 1u;
                    m_squad[int(Property::Tag)] = m_store.note(b, e, ValueKind::Attribute);
                }
            });
            m_squadSelfClosing = m_lastStartSelfClosing;
            return p;
        default:
            break;
        }
        // One of the elements that hold a value.
        Span *target = nullptr;
        if (m_inMember) {
            const int field = fieldOf[int(which)];
            if (field >= 0 && !(m_memberFound & (1u << field))) {
                m_memberFound |= 1u << field;
                target = &m_member[field];
            }
        } else if (!m_membersSeen) {
            const int property = propertyOf[int(which)];
            if (property >= 0 && !(m_squadFound & (1u << property))) {
                m_squadFound |= 1u << property;
                target = &m_squad[property];
            }
        }
        if (!target)
            return p;
        const char *limit = find(p, m_end, '<');
        if (!limit)
            limit = m_end;
        StartTag start;
        if (p < m_end && *p == '>') { // the usual <name>
            start.behind = p + 1;
            start.closed = true;
        } else if (!readStartTag(p, limit, m_end, start, m_failure, [](auto, auto, auto) {})) {
            return nullptr;
        }
        noteCut(start);
        if (start.selfClosing || !start.closed)
            return start.behind; // <icq/>, or a start tag cut off by the next tag: empty
        bool markup = false;
        const char *valueEnd = valueEndFrom(limit, which, markup);
        if (!valueEnd)
            return nullptr;
        *target = m_store.note(start.behind, valueEnd,
                               markup ? ValueKind::TextWithMarkup : ValueKind::Text);
        return valueEnd;
    }

    // Where the value of the element `which` ends, from the first "<" in it: at its end tag,
    // with the markup and the elements nested in it inside; at a member or squad tag, or a "<"
    // that starts no tag, when it was left open; at the end of the text when that comes first,
    // just before a tag cut off there. `markup` is set when there is markup inside. nullptr for
    // markup without its end.
    const char *valueEndFrom(const char *lt, Tag which, bool &markup) {
        int nested = 0; // elements of the same name open inside it
        while (lt != m_end) {
            if (const Markup *inside = markupAt(lt, m_end)) {
                const char *behind = skipMarkup(lt, *inside);
                if (!behind)
                    return nullptr;
                markup = true;
                lt = find(behind, m_end, '<');
                if (!lt)
                    lt = m_end;
                continue;
            }
            const char *name = lt + 1;
            const bool endTag = name < m_end && *name == '/';
            if (endTag)
                ++name;
            if (name == m_end) {
                m_cut = true;
                return lt;
            }
            if (!isNameStart(*name))
                return lt;
            const char *nameEnd = nullptr;
            const Tag tag = knownTag(name, m_end, nameEnd);
            if (tag == Tag::Member || tag == Tag::Squad)
                return lt;
            if (endTag && tag == which && nested-- == 0)
                return lt;
            const char *behind = behindTag(lt, m_end);
            if (!behind) {
                m_cut = true;
                return lt;
            }
            if (!endTag && tag == which && !startsWith(behind - 2, m_end, "/>"))
                ++nested;
            markup = true;
            lt = find(behind, m_end, '<');
            if (!lt)
                lt = m_end;
        }
        m_cut = true;
        return m_end;
    }

    void noteCut(const StartTag &start) {
        if (!start.closed && start.behind == m_end)
            m_cut = true;
    }

    // The writer's own member, `<member id="…" nick="…">`, `<name>`, `<email>`, `<icq>`,
    // `<remark>` and `</member>` with any blanks between the tags, read straight through without
    // looking at each tag in turn; what it reads is what the general reading would. Returns
    // nullptr, having done nothing, when the text at `lt` has any other shape.
    const char *writersMember(const char *lt) {
        const char *begins[FieldCount];
        const char *ends[FieldCount];
        const char *p = lt + 7; // behind "<member"
        const auto attribute = [&]<size_t N>(const char(&lead)[N], Field field) {
            if (!startsWith(p, m_end, lead))
                return false;
            p += N - 1;
            const char *quote = findEither(p, m_end, '"', '<');
            if (!quote || *quote != '"')
                return false;
            begins[int(field)] = p;
            ends[int(field)] = quote;
            p = quote + 1;
            return true;
        };
        const auto element = [&]<size_t O, size_t C>(const char(&open)[O], const char(&close)[C],
                                                     Field field) {
            while (p < m_end && isBlank(*p))
                ++p;
            if (!startsWith(p, m_end, open))
                return false;
            p += O - 1;
            const char *valueEnd = find(p, m_end, '<');
            if (!valueEnd || !startsWith(valueEnd, m_end, close))
                return false;
            begins[int(field)] = p;
            ends[int(field)] = valueEnd;
            p = valueEnd + (C - 1);
            return true;
        };
        if (!attribute(" id=\"", Field::Id) || !attribute(" nick=\"", Field::Nick) ||
            !startsWith(p, m_end, ">"))
            return nullptr;
        ++p;
        if (!element("<name>", "</name>", Field::Name) ||
            !element("<email>", "</email>", Field::Mail) ||
            !element("<icq>", "</icq>", Field::Icq) ||
            !element("<remark>", "</remark>", Field::Remark))
            return nullptr;
        while (p < m_end && isBlank(*p))
            ++p;
        if (!startsWith(p, m_end, "</member>"))
            return nullptr;
        closeMember();
        m_membersSeen = true;
        MemberSpans &spans = m_members.emplace_back();
        for (int f = 0; f < FieldCount; ++f)
            spans[f] = m_store.note(begins[f], ends[f],
                                    f <= int(Field::Nick) ? ValueKind::Attribute : ValueKind::Text);
        return p + 9;
    }

    const char *memberStart(const char *p) {
        closeMember();
        m_membersSeen = m_inMember = true;
        const char *behind =
            attributes(p, [&](std::string_view attribute, const char *b, const char *e) {
                const int field = attribute == "id"sv     ? int(Field::Id)
                                  : attribute == "nick"sv ? int(Field::Nick)
                                                          : -1;
                if (field >= 0 && !(m_memberFound & (1u << field))) {
                    m_memberFound |= 1u << field;
                    m_member[field] = m_store.note(b, e, ValueKind::Attribute);
                }
            });
        if (behind && m_lastStartSelfClosing)
            closeMember();
        return behind;
    }

    template <typename OnAttribute> const char *attributes(const char *p, OnAttribute onAttribute) {
        const char *limit = find(p, m_end, '<');
        StartTag start;
        if (!readStartTag(p, limit ? limit : m_end, m_end, start, m_failure, onAttribute))
            return nullptr;
        noteCut(start);
        m_lastStartSelfClosing = start.selfClosing;
        return start.behind;
    }

    // Refuses the text at the member at `lt`, the first beyond the budget, before it holds
    // more memory: the message names how many member tags the text has.
    const char *tooManyMembers(const char *lt) {
        qsizetype count = m_memberBudget;
        for (const char *p = lt; (p = find(p, m_end, '<')); ++p) {
            const char *behind = nullptr;
            if (p + 1 < m_end && knownTag(p + 1, m_end, behind) == Tag::Member)
                ++count;
        }
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        m_failure.kind = ReadFailure::TooManyMembers;
        m_failure.at = lt;
        m_failure.what = QStringLiteral("The file has %1 <member> tags, more than the %2 "
                                        "members that a squad may have here: it is not read.")
                             .arg(english.toString(count), english.toString(m_memberBudget));
        return nullptr;
    }

    void closeMember() {
        if (!m_inMember)
            return;
        m_members.push_back(m_member);
        m_member = MemberSpans{};
        m_memberFound = 0;
        m_inMember = false;
    }

    // Returns the position behind the markup at `lt`; nullptr, with the failure set, when its
    // end is missing: what follows would be hidden in it.
    const char *skipMarkup(const char *lt, const Markup &markup) {
        if (const char *close = find(lt + markup.open.size(), m_end, markup.close))
            return close + markup.close.size();
        m_failure.kind = ReadFailure::UnclosedMarkup;
        m_failure.at = lt;
        m_failure.what = QStringLiteral("A %1 is not closed: the file has no \"%2\" after its "
                                        "\"%3\".")
                             .arg(QLatin1StringView(markup.what),
                                  QLatin1StringView(markup.close.data(), markup.close.size()),
                                  QLatin1StringView(markup.open.data(), markup.open.size()));
        return nullptr;
    }

    const char *const m_begin;
    const char *const m_end;
    const bool m_straightPath; // writersMember is tried first
    const int m_memberBudget;
    const std::atomic<bool> *const m_cancelled;
    ValueStore m_store;
    ScanFailure m_failure;

    bool m_squadSeen = false;   // the squad's start tag was read
    bool m_membersSeen = false; // a member started: the squad's scope is over
    bool m_inMember = false;
    bool m_lastStartSelfClosing = false;
    bool m_squadSelfClosing = false; // <squad …/>: a squad that needs no end tag
    bool m_squadEnded = false;       // its end tag was read
    bool m_truncated = false;
    bool m_cut = false;         // the text ends inside a tag or a value
    unsigned m_squadFound = 0;  // bit per property already read
    unsigned m_memberFound = 0; // bit per field of the current member already read
    std::array<Span, PropertyCount> m_squad;
    MemberSpans m_member;
    MemberList m_members;
};

} // namespace

Scanned scan(const ScanText &text, const ScanWay &way, SquadData &data) {
    Scanner scanner(text, way);
    Scanned scanned;
    scanned.ok = scanner.run(data);
    if (!scanned.ok) {
        data = SquadData{};
        scanned.failure = scanner.failure();
        return scanned;
    }
    scanned.truncated = scanner.truncated();
    scanned.unreadable = scanner.store().unreadableCount();
    scanned.firstUnreadable = scanner.store().firstUnreadable();
    return scanned;
}

} // namespace squad::reading
