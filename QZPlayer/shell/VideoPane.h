// The video pane: the player host above the control bar. It takes dropped
// files and Space on the video, and hands the control bar's requests for the
// next entry and for the list's start to its host, which coordinates.
#pragma once

#include "PlayerControl.h"
#include "PlayerWnd.h"
#include "Protocol.h"

#include <string>
#include <vector>

// What the video pane reports upward; the frame implements it.
class IVideoPaneHost {
public:
    // Files dropped on the video: the first plays, the others are listed.
    virtual void OnFilesDropped(const std::vector<std::wstring>& paths) = 0;
    // The item ended or was passed over (WM_PLAY_NEXT's wParam): the next
    // entry of the chain. Nonzero when there was one to try.
    virtual LRESULT PlayNext(WPARAM why) = 0;
    // Play with nothing loaded: the list starts. Nonzero when it did.
    virtual LRESULT PlayList() = 0;

protected:
    ~IVideoPaneHost() = default;
};

const UINT IDD_LEFT_PANE = 148;
const int kControlBarHeight = 46;

class CVideoPane : public CDialog {
public:
    CVideoPane() : CDialog(IDD_LEFT_PANE) {}

    // Where the pane's reports go.
    void SetHost(IVideoPaneHost* host) { m_pHost = host; }
    // Opens path, or resumes it when it is the source loaded: 0 when it
    // plays, else CPlayerWnd::Open's failure. The bar follows the player.
    int Open(LPCWSTR path);

    CPlayerWnd& Player() { return m_player; }
    CPlayerControl& Bar() { return m_control; }

    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    BOOL OnInitDialog() override;
    // The dialog manager hands the control bar's Enter and Esc to this pane
    // as IDOK and IDCANCEL: the pane never ends.
    void OnOK() override {}
    void OnCancel() override {}

private:
    CPlayerWnd m_player;
    CPlayerControl m_control;
    IVideoPaneHost* m_pHost = nullptr;

    void Layout();
    void OnDropFiles(HDROP drop);
    LRESULT OnCopyData(const CopyData& data);
};
