// MainWindow: the program's one window and its controls.
#pragma once

#include <windows.h>

#include "base/text.h"

struct MainWindow {
    HWND window = nullptr;

    HWND 按钮_停止任务 = nullptr;
    HWND 选择框_截图时间 = nullptr;
    HWND 标签4 = nullptr;
    HWND 标签3 = nullptr;
    HWND 按钮_开始 = nullptr;
    HWND 按钮_导入文本 = nullptr;
    HWND 按钮_浏览 = nullptr;
    HWND 编辑框_保存路径 = nullptr;
    HWND 标签1 = nullptr;
    HWND 分组框1 = nullptr;
    HWND 选择框_网页标题 = nullptr;
    HWND 选择框_md5 = nullptr;
    HWND 选择框_序号 = nullptr;
    HWND 编辑框_网址列表 = nullptr;
    HWND 标签2 = nullptr;
    HWND 编辑框1 = nullptr;
    HWND 按钮2 = nullptr;
    HWND 按钮1 = nullptr;
};

// The live window, valid from its creation until it is destroyed (window is 0 before and after).
MainWindow& TheMainWindow();

// The program's folder: the executable's path before its last backslash.
const Text& ProgramFolder();

// Creates MainWindow with every control in its initial state and runs its created event.
HWND LoadMainWindow(HINSTANCE instance);

void OnMainWindowCreated();
void OnMainWindowDestroying();

// Control helpers in the program's own texts.
Text ControlText(HWND control);
void SetControlText(HWND control, const Text& text);
bool IsTicked(HWND checkBox);
