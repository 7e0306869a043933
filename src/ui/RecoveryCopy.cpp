#include "ui/RecoveryCopy.h"

#include "sensors/OrbelDoc.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace
{

// The original path beside the copy, so that the copy itself stays a plain
// configuration file that any program can read.
QString OriginPath()
{
    return DefaultDatabaseFolder() + QStringLiteral("/recovery.path");
}

bool WriteAtomically(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

bool CRecoveryCopy::Write(COrbelDoc& document)
{
    const std::string bytes = document.Serialize();
    // The path first: a copy is only offered once both are there.
    return QDir().mkpath(DefaultDatabaseFolder()) &&
           WriteAtomically(OriginPath(), QString::fromStdString(document.GetPathName()).toUtf8()) &&
           WriteAtomically(CRecoveryCopy::Path(), QByteArray::fromStdString(bytes));
}

QString CRecoveryCopy::Path()
{
    return DefaultDatabaseFolder() + QStringLiteral("/recovery.ini");
}

bool CRecoveryCopy::Exists()
{
    return QFile::exists(CRecoveryCopy::Path()) && QFile::exists(OriginPath());
}

QString CRecoveryCopy::OriginalPath()
{
    QFile file(OriginPath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool CRecoveryCopy::Restore(COrbelDoc& document, std::string& errorText)
{
    const QString original = OriginalPath();
    if (!document.OnOpenDocument(CRecoveryCopy::Path().toStdString(), errorText))
        return false;
    document.SetPathName(original.toStdString());
    document.SetModifiedFlag();
    return true;
}

void CRecoveryCopy::Remove()
{
    QFile::remove(CRecoveryCopy::Path());
    QFile::remove(OriginPath());
}
