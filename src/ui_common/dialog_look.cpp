#include "ui_common/dialog_look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHash>
#include <QStyle>
#include <QWidget>

namespace orvik::ui_common {

namespace {
QHash<int, QFont>& fonts() {
    static QHash<int, QFont> registered;
    return registered;
}

// A control's id, or -1 when its objectName is not a number.
int controlId(const QWidget* w) {
    bool ok = false;
    const int id = w->objectName().toInt(&ok);
    return ok ? id : -1;
}
}  // namespace

QString registeredFontFamily() {
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const char* f : {"Noto Sans CJK KR", "Noto Sans KR", "Noto Sans CJK SC", "Noto Sans"})
            if (families.contains(QString::fromLatin1(f)))
                return QString::fromLatin1(f);
        return QFont().defaultFamily();
    }();
    return family;
}

void setRegisteredFont(int id, const QFont& font) {
    fonts().insert(id, font);
}

QFont registeredFont(int id) {
    if (auto it = fonts().constFind(id); it != fonts().constEnd())
        return *it;
    QFont f(registeredFontFamily());
    f.setPixelSize(14);
    f.setWeight(QFont::Normal);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

void applyDialogLook(QWidget* dialog) {
    dialog->setPalette(QApplication::style()->standardPalette());
    dialog->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
}

void applyRegisteredFont(QWidget* root, std::initializer_list<std::pair<int, int>> ids) {
    const QFont registered = registeredFont(kRegisteredFontList);
    const QFont own = root->window()->font();
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const int id = controlId(w);
        if (id < 0)
            continue;
        bool named = false;
        for (const auto& [first, last] : ids)
            named = named || (id >= first && id <= last);
        w->setFont(named ? registered : own);
    }
}

}  // namespace orvik::ui_common
