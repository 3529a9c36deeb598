// The player's main window: the skinned frame with the video pane (player
// host above the control bar), the splitter and the playlist; the main menu,
// the open commands (kept in the open-history), the commands other programs
// send and the window's own settings.
#pragma once

#include "DialogBase.h"
#include "VideoPane.h"
#include "OpenHistory.h"
#include "ListPane.h"
#include "SplitterBar.h"

#include <string>
#include <vector>

// The message other programs use to find the player and to end it.
extern const UINT WM_QZPLAYER_APPLICATION;

const UINT IDD_FRAME = 147;
const UINT IDC_SPLITTER = 9999;
const UINT_PTR kLivenessTimerId = 2000;
const int kCaptionStrip = 30;

// The about box, centred on the player (its template places it at the
// screen's corner).
class CAboutDlg : public CDialog {
public:
    enum { IDD = 100 };
    explicit CAboutDlg(CWnd* parent) : CDialog(IDD, parent) {}

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        CenterWindow();
        return TRUE;
    }
};

class CFrameDialog : public CDialogBase, public IPlayerFrame, public IListPaneHost, public IVideoPaneHost {
public:
    CFrameDialog();
    ~CFrameDialog() override;

    void OpenCommand(LPCWSTR text);
    BOOL OpenMedia(LPCWSTR path, ProgItem* item, BOOL showError) override;
    HWND GetFrameWnd() const override { return m_hWnd; }
    void OnListCountChanged(int count) override;
    // The video pane's requests: the frame coordinates the list and the player.
    void OnFilesDropped(const std::vector<std::wstring>& paths) override;
    LRESULT PlayNext(WPARAM why) override;
    LRESULT PlayList() override;

    void RecalcLayout(BOOL force, int oldListWidth);
    void GetMinTrackSize(int& cx, int& cy) const;
    void ToggleProgramList();
    void SetListCollapsed(BOOL collapsed) override;
    void ApplySkinColours();
    void ShowMainMenu();
    void OnMenuButton() override { ShowMainMenu(); }

    // The window's own state in [System] (FrameSettings.cpp); the save
    // writes the list too.
    void LoadSystemSettings();
    void SaveSystemSettings();

    BOOL PreTranslateMessage(MSG* msg) override;
    void DrawClient(CDC* dc, RECT client) override;

    // The list width a client width allows: at most width - 430, at least 160.
    static int ClampListWidth(int listWidth, int clientWidth);

    CListSplitter m_splitter;
    CVideoPane m_videoPane;
    CListPane m_listPane;
    COpenHistory m_history;
    BOOL m_bShowProgList = TRUE;
    BOOL m_bListCollapsed = FALSE;
    int m_nSplitterWidth = 6;
    int m_nListWidth = 160;
    HWND m_hClientFrame = nullptr;
    UINT_PTR m_nTimerId = 0;
    // The first instance's own command, kept by the application.
    const std::wstring* m_pStartCommand = nullptr;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wp, LPARAM lp) override;
    BOOL OnNotify(WPARAM wp, LPARAM lp, LRESULT* result) override;
    // Enter and Esc in any pane reach the frame's dialog manager as IDOK and
    // IDCANCEL; no key ends the frame. A close request (WM_CLOSE, the menu's
    // exit) hides it on its own.
    void OnOK() override {}
    void OnCancel() override {}

private:
    void OnSize(UINT type);
    void OnOpenFile();
    void OnOpenUrl();
    void OnLivenessTimer();
    // -1 for a code that is not the frame's.
    LRESULT OnCopyData(const CopyData& data);
    void MoveWindowWidth(int delta);
    // The keyboard leaves a list that was just hidden for the video.
    void KeepFocusVisible();
};
