#pragma once

#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

class QMenu;

// The icon in the notification area while the window hides there, with its
// small menu. The commands chosen there reach the window as ordinary commands.
class CTrayIcon
{
public:
    // The tooltip starts as the string of the same number as the icon, if any.
    explicit CTrayIcon(unsigned iconId);
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    void SetNotifyWindow(std::function<void(int command)> notify);
    // With an icon id other than 0: the application icon with the tooltip
    // string and the popup menu of menuId. With 0: the icon goes.
    void ShowIcon(unsigned iconId, unsigned tooltipId, unsigned menuId);
    // Right click shows the menu (its first item in bold), a double click
    // chooses that first item; anything else is ignored. True when handled.
    bool OnTrayNotification(QSystemTrayIcon::ActivationReason reason);

    bool IsShown() const { return m_bShown; }
    QString ToolTip() const { return m_strToolTip; }
    QMenu* Menu() const { return m_pMenu.get(); }

private:
    void SetIconHandle(const QIcon& icon, const QString* tooltip, unsigned menuId);
    void LoadMenu(unsigned menuId);

    unsigned m_nId;
    unsigned m_nMenuId = 0;
    bool m_bShown = false;
    QString m_strToolTip;
    std::function<void(int)> m_notify;
    std::unique_ptr<QMenu> m_pMenu;
    QSystemTrayIcon m_icon;
};
