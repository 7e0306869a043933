#pragma once

#include "db/DbUserInterface.h"

class QWidget;

// The desktop's answers to the database layer: modal dialogs over the given
// window. Their modal loops keep the event loop, and with it recording,
// running.
class CDialogDbUserInterface : public IDbUserInterface
{
public:
    explicit CDialogDbUserInterface(QWidget* parent) : m_pParent(parent) {}

    bool ReportOdbcError(const std::string& diagnostics) override;
    bool AskLogin(std::string& userName, std::string& password) override;
    void ShowMessage(const std::string& text) override;
    void ChooseDriver(const std::vector<std::string>& drivers, std::string& driver,
                      bool& system) override;
    bool EditDriverSettings(const std::string& driver, std::string& name,
                            std::vector<std::pair<std::string, std::string>>& attributes) override;

private:
    QWidget* m_pParent; // not owned
};
