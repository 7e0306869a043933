#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// Breaks a text at spaces so that no line runs past 75 characters: once a
// character other than a space would be the 76th of its line, the last space
// of the line becomes a line feed. A line without spaces is never broken.
QString WrapMessageText(QString text);

// A message box of the program, titled with its name, German buttons, the
// text wrapped as above. Returns the button chosen.
QMessageBox::StandardButton WrappedMessageBox(QMessageBox::Icon icon,
                                              QMessageBox::StandardButtons buttons,
                                              const QString& text, QWidget* parent = nullptr);
// The text of the first string, followed directly by that of the second
// unless secondId is 0.
QMessageBox::StandardButton StringMessageBox(QMessageBox::Icon icon,
                                             QMessageBox::StandardButtons buttons, unsigned firstId,
                                             unsigned secondId, QWidget* parent = nullptr);
