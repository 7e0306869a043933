#pragma once

class QFileDialog;

// Fits the size, type and date columns of a (non-native) file dialog's
// detail list to their contents whenever a folder has been read, so that
// German texts and sizes are not cut.
void FitFileDialogColumns(QFileDialog& dialog);
