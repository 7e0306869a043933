#include "ui/WrappedMessageBox.h"

#include "ui/StringTable.h"

#include <QAbstractButton>
#include <QLabel>
#include <algorithm>

namespace
{

constexpr int kMaxColumns = 75;

// German texts, and no pictures: some desktop styles give the OK button one
// and the others none.
void GermanButtons(QMessageBox& box)
{
    for (QAbstractButton* button : box.buttons())
        button->setIcon(QIcon());
    const std::pair<QMessageBox::StandardButton, const char*> texts[] = {
        {QMessageBox::Ok, "OK"},
        {QMessageBox::Yes, "&Ja"},
        {QMessageBox::No, "&Nein"},
        {QMessageBox::Cancel, "Abbrechen"},
    };
    for (const auto& [button, text] : texts)
        if (QAbstractButton* shown = box.button(button))
            shown->setText(QString::fromUtf8(text));
}

// The box wraps lines wider than its own limit once more; a text already
// broken at 75 columns is given the room for its widest line instead.
void KeepOurLineBreaks(QMessageBox& box)
{
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!label)
        return;
    int widest = 0;
    for (const QString& line : box.text().split(QLatin1Char('\n')))
        widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
    const QMargins margins = label->contentsMargins();
    label->setMinimumWidth(widest + margins.left() + margins.right() + 2 * label->margin());
}

} // namespace

QString WrapMessageText(QString text)
{
    int column = 0;
    qsizetype lastSpace = -1;
    for (qsizetype i = 0; i < text.size(); ++i)
    {
        const QChar c = text[i];
        if (c == QLatin1Char('\n'))
        {
            column = 0;
            lastSpace = -1;
        }
        else if (c == QLatin1Char(' '))
        {
            lastSpace = i;
            ++column;
        }
        else if (++column > kMaxColumns && lastSpace >= 0)
        {
            text[lastSpace] = QLatin1Char('\n');
            column = static_cast<int>(i - lastSpace);
            lastSpace = -1;
        }
    }
    return text;
}

QMessageBox::StandardButton WrappedMessageBox(QMessageBox::Icon icon,
                                              QMessageBox::StandardButtons buttons,
                                              const QString& text, QWidget* parent)
{
    QMessageBox box(icon, LoadString(StringId::kAppName), WrapMessageText(text), buttons, parent);
    box.setTextFormat(Qt::PlainText);
    GermanButtons(box);
    KeepOurLineBreaks(box);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QMessageBox::StandardButton StringMessageBox(QMessageBox::Icon icon,
                                             QMessageBox::StandardButtons buttons, unsigned firstId,
                                             unsigned secondId, QWidget* parent)
{
    QString text = LoadString(firstId);
    if (secondId != 0)
        text += LoadString(secondId);
    return WrappedMessageBox(icon, buttons, text, parent);
}
