#include "ui/qt/standard_dialogs.h"

#include <QFileDialog>
#include <QPushButton>
#include <QRegularExpression>

namespace orvante::ui::qt {

namespace {

// "所有文件 (*.*)" -> "所有文件": the patterns are written again from the pattern field.
QString DescriptionWithoutPatterns(QString description) {
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    description.remove(trailingPatterns);
    return description.trimmed();
}

QString QtPatterns(const QString& patterns) {
    QStringList out;
    for (QString pattern : patterns.split(u';', Qt::SkipEmptyParts)) {
        pattern = pattern.trimmed();
        if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
        if (!pattern.isEmpty()) out << pattern;
    }
    return out.join(u' ');
}

}  // namespace

QString ToQtFileFilter(std::string_view filter) {
    const QStringList fields =
        QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        const QString patterns = QtPatterns(fields[i + 1]);
        if (patterns.isEmpty()) continue;
        QString description = DescriptionWithoutPatterns(fields[i]);
        if (description.isEmpty()) description = patterns;
        entries << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

void SetUpMessageBox(QMessageBox& box, const QString& text, const QString& caption,
                     BoxButtons buttons, QMessageBox::Icon icon) {
    box.setWindowTitle(caption);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    box.setIcon(icon);
    if (buttons == BoxButtons::kYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("是(&Y)"));
        box.button(QMessageBox::No)->setText(QStringLiteral("否(&N)"));
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
}

int BoxAnswer(const QMessageBox& box, BoxButtons buttons) {
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Ok:
            return IDOK;
        default:
            return buttons == BoxButtons::kYesNo ? IDNO : IDOK;
    }
}

QMessageBox::Icon ToQtIcon(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::kStop:
            return QMessageBox::Critical;
        case BoxIcon::kInformation:
            return QMessageBox::Information;
        case BoxIcon::kNone:
            break;
    }
    return QMessageBox::NoIcon;
}

std::optional<std::string> RunFileDialog(QWidget* owner, bool save,
                                         const FileDialogOptions& options) {
    QFileDialog dialog(owner, save ? QStringLiteral("另存为") : QStringLiteral("打开"),
                       QString::fromStdString(options.initialDir), ToQtFileFilter(options.filter));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QString suffix = QString::fromStdString(options.defaultSuffix);
    while (suffix.startsWith(u'.')) suffix.remove(0, 1);
    if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    return chosen.first().toStdString();
}

}  // namespace orvante::ui::qt
