#include "squadcheck.h"

#include "picturename.h"

#include "base/wording.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <bit>
#include <utility>
#include <variant>

namespace squad {
namespace {

constexpr auto Problem = Finding::Kind::Problem;
constexpr auto Hint = Finding::Kind::Hint;

// What a rule looks at.
struct Subject {
    // A squad property or a member field; empty for rules about the squad's files.
    const QString &value;
    // What the property is called in a message.
    QString label;
    const CheckContext &context;
};

// A rule about the squad's files rather than one of its texts.
constexpr std::monostate SquadFiles{};
using Target = std::variant<std::monostate, Property, Field>;

struct Rule {
    Finding::Kind kind;
    Target target;
    bool (*broken)(const Subject &);
    QString (*message)(const Subject &);
    Finding::Remedy remedy = Finding::Remedy::None;
};

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The game shows the squad's logo only for tags made of these.
bool isLogoCharacter(QChar c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || isDigit(c) || c == u' ';
}

bool allDigits(const QString &text) {
    return std::all_of(text.begin(), text.end(), isDigit);
}

// Characters as a person counts them: a pair of UTF-16 surrogates is one.
qsizetype characterCount(const QString &text) {
    return text.size() -
           std::count_if(text.begin(), text.end(), [](QChar c) { return c.isLowSurrogate(); });
}

bool isUrl(const QString &text) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(text).hasMatch();
}

QString folderOf(const CheckContext &context) {
    return QDir::toNativeSeparators(QFileInfo(context.filePath).absolutePath());
}

bool missingBesideFile(const CheckContext &context, const QString &name) {
    if (context.filePath.isEmpty())
        return false;
    return !QFileInfo(QFileInfo(context.filePath).dir().filePath(name)).isFile();
}

QString quoted(const QString &text) {
    return u'"' + text + u'"';
}

// --- When a rule is broken ---

bool isEmpty(const Subject &s) {
    return s.value.isEmpty();
}
bool hidesLogo(const Subject &s) {
    return !std::all_of(s.value.begin(), s.value.end(), isLogoCharacter);
}
bool over64(const Subject &s) {
    return characterCount(s.value) > 64;
}
// The same rule as the upload's: what it would not send is not beside the squad file.
bool notBesideFile(const Subject &s) {
    return !s.value.isEmpty() && pictureFileName(s.value).isEmpty();
}
bool pictureMissing(const Subject &s) {
    return !s.value.isEmpty() && !notBesideFile(s) &&
           missingBesideFile(s.context, pictureFileName(s.value));
}
bool dtdMissing(const Subject &s) {
    return missingBesideFile(s.context, QStringLiteral("squad.dtd"));
}
bool xslMissing(const Subject &s) {
    return missingBesideFile(s.context, QStringLiteral("squad.xsl"));
}
bool unsaved(const Subject &s) {
    return s.context.unsavedChanges;
}
bool notDigits(const Subject &s) {
    return !s.value.isEmpty() && !allDigits(s.value);
}
bool digitsNot17(const Subject &s) {
    return !s.value.isEmpty() && allDigits(s.value) && s.value.size() != 17;
}

// --- What to tell the user ---

QString tagEmptyText(const Subject &) {
    return QStringLiteral("The tag is empty, which hides the squad's logo in the game: enter the "
                          "squad's tag.");
}
QString hidesLogoText(const Subject &s) {
    QStringList bad;
    for (qsizetype i = 0; i < s.value.size(); ++i) {
        if (isLogoCharacter(s.value[i]))
            continue;
        // A character beyond the BMP is named whole, not as two halves.
        const bool pair = s.value[i].isHighSurrogate() && i + 1 < s.value.size() &&
                          s.value[i + 1].isLowSurrogate();
        const QString character = quoted(s.value.mid(i, pair ? 2 : 1));
        if (!bad.contains(character))
            bad << character;
        i += pair ? 1 : 0;
    }
    return QStringLiteral("The tag holds %1, which hides the squad's logo in the game: use only "
                          "A-Z, a-z, 0-9 and spaces.")
        .arg(bad.join(QStringLiteral(", ")));
}
QString tooLongText(const Subject &s) {
    return QStringLiteral("The %1 has %2 characters, more than the 64 the game takes: shorten it.")
        .arg(s.label, QString::number(characterCount(s.value)));
}
QString notBesideFileText(const Subject &s) {
    const QString what =
        isUrl(s.value) ? QStringLiteral("a web address") : QStringLiteral("a folder in its name");
    const QString file = s.value.section(QRegularExpression(QStringLiteral("[/\\\\]")), -1);
    // "..", "c:logo.paa": not even the last part is a file name.
    if (pictureFileName(file).isEmpty())
        return QStringLiteral("The picture name %1 names no file beside the squad file, where the "
                              "game looks for it: enter just the picture's file name and keep the "
                              "picture beside the squad file.")
            .arg(quoted(s.value));
    return QStringLiteral("The picture is given with %1, but the game finds it only beside the "
                          "squad file on the server: enter just its file name %2 and keep the "
                          "picture beside the squad file.")
        .arg(what, quoted(file));
}
QString pictureMissingText(const Subject &s) {
    return QStringLiteral("The picture %1 is not beside the squad file, so the upload skips it: "
                          "put it into %2 or correct its name.")
        .arg(quoted(pictureFileName(s.value)), folderOf(s.context));
}
QString companionMissingText(const QString &name, const Subject &s) {
    return QStringLiteral("%1 is not beside the squad file, so the upload skips it: put it into %2 "
                          "unless the server has it already.")
        .arg(name, folderOf(s.context));
}
QString dtdMissingText(const Subject &s) {
    return companionMissingText(QStringLiteral("squad.dtd"), s);
}
QString xslMissingText(const Subject &s) {
    return companionMissingText(QStringLiteral("squad.xsl"), s);
}
QString unsavedText(const Subject &) {
    return QStringLiteral("There are unsaved changes: the upload sends the squad file as last "
                          "saved, but the picture as named now. Save before uploading.");
}
QString idEmptyText(const Subject &) {
    return QStringLiteral("The ID is empty, so this entry matches no player: enter the player's "
                          "ID.");
}
QString notDigitsText(const Subject &s) {
    return QStringLiteral("The ID %1 is not a number, so it matches no player: enter the "
                          "player's ID, digits only.")
        .arg(quoted(s.value));
}
QString idLengthText(const Subject &s) {
    return QStringLiteral("The ID has %1 where today's IDs have 17: check that it is the "
                          "player's current ID.")
        .arg(base::countOf(s.value.size(), "digit", "digits"));
}
QString nickEmptyText(const Subject &) {
    return QStringLiteral("The nick is empty: enter the name the player goes by.");
}

// Every rule but the shared ID, which needs all members at once (SquadChecker::indexId). A rule
// is one line: how bad, what it looks at, when it is broken, and what to tell the user.
const Rule rules[] = {
    {Problem, Property::Tag, isEmpty, tagEmptyText},
    {Problem, Property::Tag, hidesLogo, hidesLogoText},
    {Problem, Property::Tag, over64, tooLongText},
    {Problem, Property::Name, over64, tooLongText},
    {Problem, Property::Mail, over64, tooLongText},
    {Problem, Property::Web, over64, tooLongText},
    {Problem, Property::Picture, over64, tooLongText},
    {Problem, Property::Title, over64, tooLongText},
    {Problem, Property::Picture, notBesideFile, notBesideFileText},
    {Problem, Property::Picture, pictureMissing, pictureMissingText},
    {Hint, SquadFiles, dtdMissing, dtdMissingText, Finding::Remedy::WriteCompanions},
    {Hint, SquadFiles, xslMissing, xslMissingText, Finding::Remedy::WriteCompanions},
    {Hint, SquadFiles, unsaved, unsavedText},
    {Problem, Field::Id, isEmpty, idEmptyText},
    {Problem, Field::Id, notDigits, notDigitsText},
    {Hint, Field::Id, digitsNot17, idLengthText},
    {Hint, Field::Nick, isEmpty, nickEmptyText},
};

QString propertyLabel(Property p) {
    static const char *const labels[PropertyCount] = {
        "tag", "name", "e-mail address", "web address", "picture name", "vehicle tag text"};
    return QString::fromLatin1(labels[int(p)]);
}

// The rules about a member, in table order; bit i of a member's mask stands for the i-th.
const std::vector<const Rule *> &memberRules() {
    static const std::vector<const Rule *> found = [] {
        std::vector<const Rule *> r;
        for (const Rule &rule : rules) {
            if (std::holds_alternative<Field>(rule.target))
                r.push_back(&rule);
        }
        // One bit each in a member's mask, below the shared-ID bit.
        Q_ASSERT(r.size() < 31);
        return r;
    }();
    return found;
}

const CheckContext noContext;

// Beside the member rules' bits, a member's mask says whether another member holds its ID.
constexpr quint32 SharedBit = 1u << 31;
constexpr quint32 RuleBits = ~SharedBit;

QString memberLabel(int member, const QString &nick) {
    return QStringLiteral("%1 %2").arg(QString::number(member + 1), quoted(nick));
}

QString sharedIdText(const SquadDocument &document, const QList<int> &holders, int member) {
    constexpr int named = 3;
    QStringList others;
    for (const int other : holders) {
        if (other != member && others.size() < named)
            others << memberLabel(other, document.cell(Field::Nick, other));
    }
    const qsizetype rest = holders.size() - 1 - others.size();
    if (holders.size() == 2) {
        return QStringLiteral("Same ID as member %1, so only one of the two counts in the game: "
                              "correct the wrong one.")
            .arg(others.first());
    }
    const QString last = rest > 0 ? QStringLiteral("%1 more").arg(rest) : others.takeLast();
    return QStringLiteral("Same ID as members %1 and %2, so only one of them counts in the game: "
                          "correct the wrong ones.")
        .arg(others.join(QStringLiteral(", ")), last);
}

} // namespace

QList<Finding> checkSquad(SquadData data, const CheckContext &context) {
    SquadDocument document;
    document.load(std::move(data));
    document.setModified(context.unsavedChanges);
    SquadChecker checker(document);
    checker.setPictureInspector(context.pictures);
    checker.setFilePath(context.filePath);
    return checker.findings();
}

SquadChecker::SquadChecker(const SquadDocument &document, QObject *parent)
    : QObject(parent)
    , m_document(document) {
    connect(&document, &SquadDocument::propertyChanged, this, &SquadChecker::checkSquadRules);
    connect(&document, &SquadDocument::modifiedChanged, this, &SquadChecker::checkSquadRules);
    connect(&document, &SquadDocument::memberFieldChanged, this, &SquadChecker::fieldChanged);
    connect(&document, &SquadDocument::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { insertMembers(first, last); });
    connect(&document, &SquadDocument::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) { removeMembers(first, last); });
    connect(&document, &SquadDocument::contentReset, this, &SquadChecker::rebuild);
    rebuild();
}

void SquadChecker::setFilePath(const QString &path) {
    m_filePath = path;
    checkSquadRules();
}

void SquadChecker::recheckFiles() {
    checkSquadRules();
}

void SquadChecker::setPictureInspector(const PictureInspector *inspector) {
    m_pictures = inspector;
    m_pictureSeen.reset();
    checkSquadRules();
}

QList<Finding> SquadChecker::pictureFindings() {
    const QString name = pictureFileName(m_document.propertyText(Property::Picture));
    if (!m_pictures || m_filePath.isEmpty() || name.isEmpty())
        return {};
    const QFileInfo file(QFileInfo(m_filePath).dir().filePath(name));
    if (!file.isFile())
        return {};
    const QString path = file.absoluteFilePath();
    if (!m_pictureSeen || m_pictureSeen->path != path || m_pictureSeen->size != file.size() ||
        m_pictureSeen->modified != file.lastModified()) {
        m_pictureSeen = PictureSeen{path, file.size(), file.lastModified(),
                                    m_pictures->inspectFile(name, path)};
    }
    return m_pictureSeen->findings;
}

bool SquadChecker::evaluateSquadRules() {
    const CheckContext context{m_filePath, m_document.modified(), m_pictures};
    QList<Finding> found;
    for (const Rule &rule : rules) {
        if (std::holds_alternative<Field>(rule.target))
            continue;
        // What lies in the picture file is told where its absence would be.
        if (rule.broken == pictureMissing)
            found << pictureFindings();
        const auto *property = std::get_if<Property>(&rule.target);
        static const QString none;
        const Subject subject{property ? m_document.propertyText(*property) : none,
                              property ? propertyLabel(*property) : QString(), context};
        if (!rule.broken(subject))
            continue;
        Finding f{rule.kind, -1, {}, {}, rule.message(subject), rule.remedy};
        if (property)
            f.property = *property;
        found << f;
    }
    if (found == m_squadFindings)
        return false;
    m_squadFindings = std::move(found);
    return true;
}

void SquadChecker::checkSquadRules() {
    if (evaluateSquadRules())
        Q_EMIT squadFindingsChanged();
}

quint32 SquadChecker::brokenRules(int member) const {
    quint32 mask = 0;
    const auto &checks = memberRules();
    for (size_t i = 0; i < checks.size(); ++i) {
        const Rule &rule = *checks[i];
        const Subject subject{m_document.cell(std::get<Field>(rule.target), member), {}, noContext};
        if (rule.broken(subject))
            mask |= 1u << i;
    }
    return mask;
}

void SquadChecker::countMask(quint32 mask, int sign) {
    const auto &checks = memberRules();
    for (mask &= RuleBits; mask; mask &= mask - 1) {
        const Rule &rule = *checks[std::countr_zero(mask)];
        (rule.kind == Problem ? m_memberProblems : m_memberHints) += sign;
    }
}

void SquadChecker::rebuild() {
    const int count = m_document.memberCount();
    m_broken.assign(count, 0);
    m_idKeys.assign(count, -1);
    m_ids.clear(count);
    m_sharedIds.clear();
    m_memberProblems = m_memberHints = m_sharing = 0;
    // The IDs' texts lie all over the heap and the index's table is larger than a cache: each
    // is asked for a few members ahead of its use, so that memory arrives in time.
    constexpr int ahead = 16;
    std::vector<size_t> hashes(count);
    for (int m = 0; m < count; ++m) {
        if (m + ahead < count)
            __builtin_prefetch(m_document.cell(Field::Id, m + ahead).constData());
        m_broken[m] = brokenRules(m);
        countMask(m_broken[m], +1);
        const QString &id = m_document.cell(Field::Id, m);
        if (!id.isEmpty())
            hashes[m] = m_ids.hashOf(id);
    }
    for (int m = 0; m < std::min(ahead, count); ++m)
        m_ids.prefetch(hashes[m]);
    bool anyShared = false;
    for (int m = 0; m < count; ++m) {
        if (m + ahead < count)
            m_ids.prefetch(hashes[m + ahead]);
        const QString &id = m_document.cell(Field::Id, m);
        if (!id.isEmpty()) {
            m_idKeys[m] = m_ids.add(id, hashes[m]);
            anyShared = anyShared || m_ids.holders(m_idKeys[m]) == 2;
        }
    }
    for (int m = 0; anyShared && m < count; ++m) {
        const int key = m_idKeys[m];
        if (key >= 0 && m_ids.holders(key) > 1) {
            m_sharedIds[key].append(m);
            m_broken[m] |= SharedBit;
            ++m_sharing;
        }
    }
    // Told with the rest by reset(), so that no one sees new squad findings beside old members.
    evaluateSquadRules();
    Q_EMIT reset();
}

void SquadChecker::recheckMember(int member) {
    const quint32 now = brokenRules(member);
    countMask(m_broken[member], -1);
    countMask(now, +1);
    m_broken[member] = now | (m_broken[member] & SharedBit);
}

void SquadChecker::fieldChanged(int member, Field field) {
    if (field != Field::Id && field != Field::Nick)
        return;
    recheckMember(member);
    Ripple ripple;
    if (field == Field::Id) {
        unindexId(member, ripple);
        indexId(member, m_document.cell(Field::Id, member), ripple);
    } else if (shares(member)) {
        // The others' findings name this member by nick.
        ripple.texts = true;
    }
    Q_EMIT memberChanged(member);
    announce(ripple);
}

void SquadChecker::insertMembers(int first, int last) {
    const int added = last - first + 1;
    if (first < int(m_broken.size())) {
        for (QList<int> &holders : m_sharedIds) {
            for (int &m : holders) {
                if (m >= first)
                    m += added;
            }
        }
    }
    m_broken.insert(m_broken.begin() + first, added, 0);
    m_idKeys.insert(m_idKeys.begin() + first, added, -1);
    Ripple ripple;
    // Members behind the new ones moved, and findings name them by position.
    ripple.texts = m_sharing > 0 && first < int(m_broken.size()) - added;
    for (int m = first; m <= last; ++m) {
        recheckMember(m);
        indexId(m, m_document.cell(Field::Id, m), ripple);
    }
    Q_EMIT membersInserted(first, last);
    announce(ripple);
}

void SquadChecker::removeMembers(int first, int last) {
    const int removed = last - first + 1;
    Ripple ripple;
    for (int m = first; m <= last; ++m) {
        unindexId(m, ripple);
        countMask(m_broken[m], -1);
    }
    m_broken.erase(m_broken.begin() + first, m_broken.begin() + last + 1);
    m_idKeys.erase(m_idKeys.begin() + first, m_idKeys.begin() + last + 1);
    bool moved = false;
    for (QList<int> &holders : m_sharedIds) {
        for (int &m : holders) {
            if (m > last) {
                m -= removed;
                moved = true;
            }
        }
    }
    QList<int> touched;
    for (const int m : std::as_const(ripple.members)) {
        if (m < first)
            touched << m;
        else if (m > last)
            touched << m - removed;
    }
    ripple.members = touched;
    ripple.texts = ripple.texts || (moved && m_sharing > 0);
    Q_EMIT membersRemoved(first, last);
    announce(ripple);
}

void SquadChecker::indexId(int member, const QString &id, Ripple &ripple) {
    if (id.isEmpty())
        return;
    const int key = m_ids.add(id);
    m_idKeys[member] = key;
    const int holding = m_ids.holders(key);
    if (holding == 2) {
        // Rare, and then worth one look at the whole list: the first holder was not kept.
        const int other = otherHolder(key, member);
        m_sharedIds.insert(key, {std::min(member, other), std::max(member, other)});
        m_broken[member] |= SharedBit;
        m_broken[other] |= SharedBit;
        m_sharing += 2;
        ripple.members << other;
    } else if (holding > 2) {
        QList<int> &holders = m_sharedIds[key];
        holders.insert(std::lower_bound(holders.begin(), holders.end(), member) - holders.begin(),
                       member);
        m_broken[member] |= SharedBit;
        m_sharing += 1;
        ripple.texts = true;
    }
}

int SquadChecker::otherHolder(int key, int member) const {
    for (int m = 0; m < int(m_idKeys.size()); ++m) {
        if (m != member && m_idKeys[m] == key)
            return m;
    }
    Q_UNREACHABLE();
    return -1;
}

void SquadChecker::unindexId(int member, Ripple &ripple) {
    const int key = std::exchange(m_idKeys[member], -1);
    if (key < 0)
        return;
    m_broken[member] &= RuleBits;
    const int holding = m_ids.remove(key);
    if (holding == 0)
        return;
    const auto shared = m_sharedIds.find(key);
    QList<int> &holders = *shared;
    holders.erase(std::lower_bound(holders.begin(), holders.end(), member));
    if (holding == 1) {
        m_sharing -= 2;
        m_broken[holders.first()] &= RuleBits;
        ripple.members << holders.first();
        m_sharedIds.erase(shared);
    } else {
        m_sharing -= 1;
        ripple.texts = true;
    }
}

void SquadChecker::announce(const Ripple &ripple) {
    for (const int m : ripple.members)
        Q_EMIT memberChanged(m);
    if (ripple.texts)
        Q_EMIT duplicateTextsChanged();
}

bool SquadChecker::shares(int member) const {
    return m_broken[member] & SharedBit;
}

int SquadChecker::memberFindingCount(int member) const {
    return std::popcount(m_broken[member] & RuleBits) + (shares(member) ? 1 : 0);
}

Finding SquadChecker::memberFinding(int member, int index) const {
    const auto &checks = memberRules();
    for (quint32 mask = m_broken[member] & RuleBits; mask; mask &= mask - 1) {
        if (index-- > 0)
            continue;
        const Rule &rule = *checks[std::countr_zero(mask)];
        const Field field = std::get<Field>(rule.target);
        const Subject subject{m_document.cell(field, member), {}, noContext};
        return {rule.kind, member, {}, field, rule.message(subject)};
    }
    return {Problem,
            member,
            {},
            Field::Id,
            sharedIdText(m_document, m_sharedIds.value(m_idKeys[member]), member)};
}

QList<Finding> SquadChecker::findings() const {
    QList<Finding> all = m_squadFindings;
    for (int m = 0; m < int(m_broken.size()); ++m) {
        const int count = memberFindingCount(m);
        for (int i = 0; i < count; ++i)
            all << memberFinding(m, i);
    }
    return all;
}

int SquadChecker::problemCount() const {
    return int(std::count_if(m_squadFindings.begin(), m_squadFindings.end(),
                             [](const Finding &f) { return f.kind == Problem; })) +
           m_memberProblems + m_sharing;
}

int SquadChecker::hintCount() const {
    return int(std::count_if(m_squadFindings.begin(), m_squadFindings.end(),
                             [](const Finding &f) { return f.kind == Hint; })) +
           m_memberHints;
}

} // namespace squad
