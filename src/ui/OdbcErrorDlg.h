#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QTimer;

// Shows the diagnostics of a failed ODBC call and closes itself with OK
// after a countdown, so that unattended recording is not held up. A click
// on the check box stops the countdown for good.
class COdbcErrorDlg : public QDialog
{
public:
    explicit COdbcErrorDlg(const QString& message, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnTimer();
    void OnAutoCloseClicked();

    int m_nCountdown = 10;
    bool m_bStarted = false;
    QTimer* m_pTimer;
    QLabel* m_pCountdown;
    QCheckBox* m_pAutoClose;
};
