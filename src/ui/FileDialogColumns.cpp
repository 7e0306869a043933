#include "ui/FileDialogColumns.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>

void FitFileDialogColumns(QFileDialog& dialog)
{
    auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!list || !model)
        return;
    // The name column keeps the room that is left.
    const auto fit = [list]
    {
        for (int column = 1; column < list->header()->count(); ++column)
            list->resizeColumnToContents(column);
    };
    QObject::connect(model, &QFileSystemModel::directoryLoaded, list, fit);
    fit();
}
