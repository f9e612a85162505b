// The handlers of MainWindow's buttons.
#pragma once

void BatchCaptureTask();
void StopBatchCapture();
void ImportUrlList();
void ChooseSaveFolder();
void VisitTestAction();
void SnapshotTestAction();
