#pragma once

#include <QDialog>

class QLabel;

// "Info über Tessaro": the program's version and year.
class CAboutDlg : public QDialog
{
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    static constexpr const char* kVersion = "1.03";
    static constexpr const char* kYear = "2005";

private:
    void OnInitDialog();

    QLabel* m_pVersionText; // formatted with version and year on initialisation
};
