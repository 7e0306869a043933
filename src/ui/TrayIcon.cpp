#include "ui/TrayIcon.h"

#include "ui/CommandTable.h"
#include "ui/IconPainter.h"
#include "ui/StringTable.h"

#include <QAction>
#include <QMenu>

namespace
{

constexpr unsigned kAppIconId = 128;
constexpr unsigned kTrayMenuId = 129;

} // namespace

CTrayIcon::CTrayIcon(unsigned iconId) : m_nId(iconId), m_strToolTip(LoadString(iconId))
{
    QObject::connect(&m_icon, &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason)
                     { OnTrayNotification(reason); });
}

CTrayIcon::~CTrayIcon()
{
    if (m_bShown)
        m_icon.hide();
}

void CTrayIcon::SetNotifyWindow(std::function<void(int)> notify)
{
    m_notify = std::move(notify);
}

void CTrayIcon::ShowIcon(unsigned iconId, unsigned tooltipId, unsigned menuId)
{
    QIcon icon;
    if (iconId != 0)
    {
        m_strToolTip = LoadString(tooltipId).left(127);
        if (iconId == kAppIconId)
            icon = CIconPainter::AppIcon();
    }
    SetIconHandle(icon, nullptr, menuId);
}

void CTrayIcon::SetIconHandle(const QIcon& icon, const QString* tooltip, unsigned menuId)
{
    if (menuId != m_nMenuId || !m_pMenu)
        LoadMenu(menuId);
    if (icon.isNull())
    {
        if (m_bShown)
            m_icon.hide();
        m_bShown = false;
        return;
    }
    if (tooltip)
        m_strToolTip = tooltip->left(127);
    m_icon.setIcon(icon);
    m_icon.setToolTip(m_strToolTip);
    m_icon.setContextMenu(m_pMenu.get());
    m_icon.show();
    m_bShown = true;
}

void CTrayIcon::LoadMenu(unsigned menuId)
{
    m_nMenuId = menuId;
    m_icon.setContextMenu(nullptr);
    m_pMenu.reset();
    if (menuId != kTrayMenuId)
        return;
    m_pMenu = std::make_unique<QMenu>();
    m_pMenu->setObjectName(QStringLiteral("Tray"));
    const std::pair<int, const char*> items[] = {
        {ID_RESTORE_WINDOW, "Fenster &wiederherstellen"},
        {0, nullptr},
        {ID_APP_EXIT, "Tessaro &beenden"},
    };
    for (const auto& [id, text] : items)
    {
        if (id == 0)
        {
            m_pMenu->addSeparator();
            continue;
        }
        QAction* action = m_pMenu->addAction(QString::fromUtf8(text));
        action->setData(id);
        QObject::connect(action, &QAction::triggered,
                         [this, id]
                         {
                             if (m_notify)
                                 m_notify(id);
                         });
    }
    m_pMenu->setDefaultAction(m_pMenu->actions().first());
}

bool CTrayIcon::OnTrayNotification(QSystemTrayIcon::ActivationReason reason)
{
    if (!m_pMenu || !m_bShown)
        return false;
    switch (reason)
    {
    case QSystemTrayIcon::Context:
        // The notification area shows the context menu itself.
        return true;
    case QSystemTrayIcon::DoubleClick:
        if (m_notify)
            m_notify(CCommandTable::CommandOf(m_pMenu->actions().first()));
        return true;
    default:
        return false;
    }
}
