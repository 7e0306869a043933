#include "ui/WrappedMessageBox.h"

#include "ui/StringTable.h"

#include <QAbstractButton>

namespace
{

constexpr int kMaxColumns = 75;

void GermanButtonTexts(QMessageBox& box)
{
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
    GermanButtonTexts(box);
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
