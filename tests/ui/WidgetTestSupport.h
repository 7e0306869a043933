#pragma once

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

inline QPushButton* ButtonOf(QWidget* dialog, const QString& text)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
}

// Acts on the modal dialog that is about to run.
inline void WhenModal(std::function<void(QWidget*)> act)
{
    QTimer::singleShot(0,
                       [act]
                       {
                           QWidget* dialog = QApplication::activeModalWidget();
                           ASSERT_NE(dialog, nullptr);
                           act(dialog);
                       });
}
