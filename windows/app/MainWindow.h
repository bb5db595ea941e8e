#pragma once
// The main window: banner, progress bar, status line and product line, the menu, dropped files,
// and the messages that an update's worker posts.

#include <windows.h>

#include <atomic>
#include <string>

#include "AppLogic.h"
#include "StartUpdate.h"
#include "WindowLink.h"

class MainWindow {
public:
    explicit MainWindow(HINSTANCE program);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Registers the window class and creates the window; false (the box shown) when the class
    // cannot be registered.
    bool Create(int showCommand);
    // The file to start with: the one on the command line, else (without the console) the first
    // update file in the current folder, which is offered for confirmation.
    void OfferStartFile(const char* commandLine, bool consoleEnabled);
    // Releases the pictures that were replaced; only the window thread calls it, never while painting.
    void ReleaseReplacedPictures();
    // Whether an update's worker has not ended yet; it uses this object while it runs.
    bool WorkerRunning() { return starter.WorkerRunning(); }

private:
    static LRESULT CALLBACK WindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
    static void CALLBACK AnimationTimerProc(HWND handle, UINT, UINT_PTR, DWORD);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void HandleTextMessage(UINT message, WPARAM wParam, char* text);
    void CreateContents();
    HWND CreateRow(const char* className, DWORD style, int y, int width, int height, const char* text);
    void PaintBackground();
    void ChooseUpdateFile();
    void ShowAbout();
    void HandleDrop(HDROP drop);
    void StartUpdate(const char* path);
    void ConfirmUpdate();
    void UpdateStarted();
    void SetUpdatingLayout(bool on);
    bool BlockSessionEnd(const std::string& reason);
    void UnblockSessionEnd();

    HINSTANCE instance;
    HWND window = nullptr;
    HWND progressBar = nullptr;
    HWND statusLine = nullptr;
    HWND productLine = nullptr;
    char updateFilePath[kPathBufferSize] = {};
    static constexpr int kTextBufferSize = 128;
    char titleText[kTextBufferSize] = {};
    char noticeText[kTextBufferSize] = {};
    SIZE normalSize = {0, 0};
    SIZE expandedSize = {0, 0};
    bool windowExpanded = false;
    int animationPosition = 0;
    std::atomic<LONG> updateRunning{0};
    std::atomic<bool> indeterminateMode{false};
    PictureSlot<HBITMAP> backgroundBitmap;
    // Refuses to end the program, and holds off the end of the session, while an update runs.
    UpdateGuard updateGuard;
    WindowLink link{nullptr, updateRunning, indeterminateMode, backgroundBitmap};
    UpdateStarter starter;
};
