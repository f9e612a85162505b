// Button handlers whose work is not built yet.
#include "app/event_handlers.h"

void BatchCaptureTask() {}
void StopBatchCapture() {}
void ImportUrlList() {}
void ChooseSaveFolder() {}
void VisitTestAction() {}
void SnapshotTestAction() {}
