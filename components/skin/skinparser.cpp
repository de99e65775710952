#include "skinparser.h"

#include "skinerror.h"
#include "skinglyphs.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

constexpr int kMaxCoordinate = 10000;

// Quoted file content in a message: control characters would garble it.
QString printable(QString text)
{
    for (QChar &c : text)
        if (!c.isPrint())
            c = QChar::ReplacementCharacter;
    return text;
}

struct Cursor {
    const QString &origin;
    int line = 0;

    [[noreturn]] void fail(const QString &what) const
    {
        throw SkinError(QStringLiteral("%1, line %2: %3").arg(origin).arg(line).arg(printable(what)));
    }
};

SkinKind kindFromName(const QString &word, const Cursor &at)
{
    static const QList<std::pair<QString, SkinKind>> kinds = {
        {QStringLiteral("form"), SkinKind::Form}, {QStringLiteral("panel"), SkinKind::Panel},
        {QStringLiteral("text"), SkinKind::Text}, {QStringLiteral("button"), SkinKind::Button},
        {QStringLiteral("bar"), SkinKind::Bar},   {QStringLiteral("image"), SkinKind::Image},
    };
    for (const auto &[name, kind] : kinds)
        if (word.compare(name, Qt::CaseInsensitive) == 0)
            return kind;
    at.fail(QStringLiteral("unknown element kind \"%1\" (expected form, panel, text, button, bar or image)")
                .arg(word));
}

QList<int> integers(const QString &value, int count, const QString &key, const Cursor &at)
{
    const QStringList words = value.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    QList<int> numbers;
    for (const QString &w : words) {
        bool ok = false;
        const int n = w.toInt(&ok);
        if (!ok || n < -kMaxCoordinate || n > kMaxCoordinate)
            break;
        numbers << n;
    }
    if (numbers.size() != count || words.size() != count)
        at.fail(QStringLiteral("\"%1\" needs %2 whole numbers, found \"%3\"").arg(key).arg(count).arg(value));
    return numbers;
}

QColor colour(const QString &word, const QString &key, const Cursor &at)
{
    if (word.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return {};
    if (!QColor::isValidColor(word))
        at.fail(QStringLiteral("\"%1\" is not a colour for \"%2\"").arg(word, key));
    return QColor(word);
}

// One or two colours: a flat fill or a top-to-bottom gradient.
std::pair<QColor, QColor> colours(const QString &value, const QString &key, const Cursor &at)
{
    const QStringList words = value.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty() || words.size() > 2)
        at.fail(QStringLiteral("\"%1\" needs one or two colours, found \"%2\"").arg(key, value));
    const QColor first = colour(words[0], key, at);
    return {first, words.size() == 2 ? colour(words[1], key, at) : first};
}

bool boolean(const QString &value, const QString &key, const Cursor &at)
{
    const QString v = value.toLower();
    if (v == QLatin1String("yes") || v == QLatin1String("true") || v == QLatin1String("1"))
        return true;
    if (v == QLatin1String("no") || v == QLatin1String("false") || v == QLatin1String("0"))
        return false;
    at.fail(QStringLiteral("\"%1\" needs yes or no, found \"%2\"").arg(key, value));
}

qreal fontSize(const QString &value, const Cursor &at)
{
    bool ok = false;
    const qreal size = value.toDouble(&ok);
    if (!ok || size < 4 || size > 72)
        at.fail(QStringLiteral("\"font-size\" needs a point size from 4 to 72, found \"%1\"").arg(value));
    return size;
}

void applyFormKey(SkinFormDef &form, const QString &key, const QString &value, const Cursor &at)
{
    if (key == QLatin1String("size")) {
        const QList<int> n = integers(value, 2, key, at);
        if (n[0] <= 0 || n[1] <= 0)
            at.fail(QStringLiteral("\"size\" must be positive, found \"%1\"").arg(value));
        form.size = QSize(n[0], n[1]);
    } else if (key == QLatin1String("window")) {
        form.window = colour(value, key, at);
    } else if (key == QLatin1String("window-text")) {
        form.windowText = colour(value, key, at);
    } else if (key == QLatin1String("panel")) {
        form.panel = colour(value, key, at);
    } else if (key == QLatin1String("panel-text")) {
        form.panelText = colour(value, key, at);
    } else if (key == QLatin1String("accent")) {
        form.accent = colour(value, key, at);
    } else if (key == QLatin1String("fill")) {
        std::tie(form.fill, form.fill2) = colours(value, key, at);
    } else if (key == QLatin1String("font-size")) {
        form.fontSize = fontSize(value, at);
    } else {
        at.fail(QStringLiteral("unknown key \"%1\" in [form %2]").arg(key, form.name));
    }
}

void applyElementKey(SkinElementDef &e, const QString &key, const QString &value, const Cursor &at)
{
    if (key == QLatin1String("rect")) {
        const QList<int> n = integers(value, 4, key, at);
        if (n[2] < 0 || n[3] < 0)
            at.fail(QStringLiteral("\"rect\" is left top width height; width and height can't be negative"));
        e.rect = QRect(n[0], n[1], n[2], n[3]);
        e.hasRect = true;
    } else if (key == QLatin1String("text")) {
        e.text = value;
    } else if (key == QLatin1String("tooltip")) {
        e.tooltip = value;
    } else if (key == QLatin1String("icon")) {
        if (!IsSkinGlyph(value))
            at.fail(QStringLiteral("unknown icon \"%1\" (known: %2)")
                        .arg(value, SkinGlyphNames().join(QStringLiteral(", "))));
        e.icon = value;
    } else if (key == QLatin1String("style")) {
        static const QStringList styles = {QStringLiteral("push"), QStringLiteral("tool"),
                                           QStringLiteral("accent"), QStringLiteral("icon")};
        if (!styles.contains(value))
            at.fail(QStringLiteral("unknown style \"%1\" (expected push, tool, accent or icon)").arg(value));
        e.style = value;
    } else if (key == QLatin1String("fill")) {
        std::tie(e.fill, e.fill2) = colours(value, key, at);
    } else if (key == QLatin1String("border")) {
        e.border = colour(value, key, at);
    } else if (key == QLatin1String("color")) {
        e.color = colour(value, key, at);
    } else if (key == QLatin1String("radius")) {
        e.radius = integers(value, 1, key, at)[0];
        if (e.radius < 0 || e.radius > 100)
            at.fail(QStringLiteral("\"radius\" must be from 0 to 100, found \"%1\"").arg(value));
    } else if (key == QLatin1String("font-size")) {
        e.fontSize = fontSize(value, at);
    } else if (key == QLatin1String("bold")) {
        e.bold = boolean(value, key, at);
    } else if (key == QLatin1String("align")) {
        const QString v = value.toLower();
        Qt::Alignment h;
        if (v == QLatin1String("left"))
            h = Qt::AlignLeft;
        else if (v == QLatin1String("center") || v == QLatin1String("centre"))
            h = Qt::AlignHCenter;
        else if (v == QLatin1String("right"))
            h = Qt::AlignRight;
        else
            at.fail(QStringLiteral("\"align\" needs left, center or right, found \"%1\"").arg(value));
        e.align = h | Qt::AlignVCenter;
    } else {
        at.fail(QStringLiteral("unknown key \"%1\" in [%2]").arg(key, e.name));
    }
}

bool nameTaken(const SkinFormDef &form, const QString &name)
{
    if (form.name == name)
        return true;
    for (const SkinElementDef &e : form.elements)
        if (e.name == name)
            return true;
    return false;
}

void checkComplete(const SkinFormDef &form, const QString &origin)
{
    if (!form.size.isValid())
        throw SkinError(QStringLiteral("%1, line %2: [form %3] has no \"size\"")
                            .arg(origin)
                            .arg(form.line)
                            .arg(form.name));
    for (const SkinElementDef &e : form.elements)
        if (!e.hasRect)
            throw SkinError(
                QStringLiteral("%1, line %2: [%3] has no \"rect\"").arg(origin).arg(e.line).arg(e.name));
}

} // namespace

SkinDefinition ParseSkin(const QString &text, const QString &origin)
{
    static const QRegularExpression section(QStringLiteral("^\\[\\s*(\\S+)\\s+([A-Za-z0-9_.-]+)\\s*\\]$"));
    static const QRegularExpression entry(QStringLiteral("^([A-Za-z][A-Za-z0-9-]*)\\s*=\\s*(.*)$"));

    SkinDefinition skin;
    SkinFormDef *form = nullptr;
    SkinElementDef *element = nullptr;
    Cursor at{origin};

    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        ++at.line;
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';')))
            continue;

        if (const QRegularExpressionMatch m = section.match(line); m.hasMatch()) {
            const SkinKind kind = kindFromName(m.captured(1), at);
            const QString name = m.captured(2);
            if (kind == SkinKind::Form) {
                if (skin.form(name))
                    at.fail(QStringLiteral("a second [form %1]").arg(name));
                skin.forms.append(SkinFormDef{});
                form = &skin.forms.last();
                form->name = name;
                form->line = at.line;
                element = nullptr;
                continue;
            }
            if (!form)
                at.fail(QStringLiteral("[%1] comes before any [form] section").arg(name));
            if (nameTaken(*form, name))
                at.fail(QStringLiteral("the name \"%1\" is used twice in [form %2]").arg(name, form->name));
            form->elements.append(SkinElementDef{});
            element = &form->elements.last();
            element->kind = kind;
            element->name = name;
            element->line = at.line;
            continue;
        }

        if (const QRegularExpressionMatch m = entry.match(line); m.hasMatch()) {
            const QString key = m.captured(1).toLower();
            const QString value = m.captured(2).trimmed();
            if (element)
                applyElementKey(*element, key, value, at);
            else if (form)
                applyFormKey(*form, key, value, at);
            else
                at.fail(QStringLiteral("\"%1\" comes before any [form] section").arg(key));
            continue;
        }

        at.fail(QStringLiteral("expected a \"[kind name]\" section or a \"key = value\" line, found \"%1\"")
                    .arg(line.left(60)));
    }

    for (const SkinFormDef &f : skin.forms)
        checkComplete(f, origin);
    return skin;
}
