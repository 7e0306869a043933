#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

inline QPushButton* ButtonOf(QWidget* dialog, const QString& text)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
}

// The texts a combo box lists; none for a box that is not there.
inline QStringList ItemsOf(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; combo && i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// Records every modal dialog that comes up while it lives and answers it:
// the texts of message boxes are kept, the titles of other dialogs; each
// dialog is handed to the next answer, or rejected when there is none.
class CModalWatcher
{
public:
    CModalWatcher()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(5);
    }
    explicit CModalWatcher(std::function<void(QWidget*)> answer) : CModalWatcher()
    {
        Then(std::move(answer));
    }

    // Acts on the next modal dialog instead of rejecting it.
    void Then(std::function<void(QWidget*)> answer) { m_answers.push_back(std::move(answer)); }
    const QStringList& Texts() const { return m_texts; }
    int Count() const { return static_cast<int>(m_texts.size()); }

private:
    void Poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        // A dialog may reuse the address of the one before it; a mark may not.
        if (!modal || modal->property("tessaroWatched").toBool())
            return;
        modal->setProperty("tessaroWatched", true);
        auto* box = qobject_cast<QMessageBox*>(modal);
        m_texts.append(box ? box->text() : modal->windowTitle());
        if (!m_answers.empty())
        {
            auto answer = std::move(m_answers.front());
            m_answers.erase(m_answers.begin());
            answer(modal);
        }
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    }

    QTimer m_timer;
    QStringList m_texts;
    std::vector<std::function<void(QWidget*)>> m_answers;
};
