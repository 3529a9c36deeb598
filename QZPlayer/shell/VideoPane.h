// The video pane: the player host above the control bar. It takes dropped
// files, Space on the video, and the control bar's requests for the next
// entry (asked of the playlist) and for the list's start.
#pragma once

#include "PlayerControl.h"
#include "PlayerWnd.h"

class CFrameDialog;

const UINT IDD_LEFT_PANE = 148;
const int kControlBarHeight = 46;

class CVideoPane : public CDialog {
public:
    CVideoPane() : CDialog(IDD_LEFT_PANE) {}

    CPlayerWnd m_player;
    CPlayerControl m_control;
    CFrameDialog* m_pFrame = nullptr;

    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    BOOL OnInitDialog() override;
    // The dialog manager hands the control bar's Enter and Esc to this pane
    // as IDOK and IDCANCEL: the pane never ends.
    void OnOK() override {}
    void OnCancel() override {}

private:
    void Layout();
    void OnDropFiles(HDROP drop);
    LRESULT OnPlayNext(WPARAM why);
    LRESULT OnPlayList();
    LRESULT OnCopyData(const COPYDATASTRUCT* data);
};
