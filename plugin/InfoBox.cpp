// The song information box: the song's texts and the file's size in a modal dialog
// with read-only fields, from a player of its own (playback goes on undisturbed).
#include "plugin/Plugin.h"
#include "resources/SongInfoDialog.h"

namespace {

#ifdef _WIN32
void MakeTemplateKnown() {} // the DLL's compiled resources hold it
#else
// Off Windows there are no compiled resources: the dialog stand-in gets the template
// from the description that the resource script reads too.
void MakeTemplateKnown()
{
    static const bool s_bDone = [] {
        StandInDialogTemplate songInfo;
        songInfo.strCaption = SONGINFO_DIALOG_CAPTION;
#define VANTREL_STANDIN_CONTROL(cls, id, text, x, y, w, h, style)                                                  \
    songInfo.arrControls.push_back(                                                                                \
        CStandInDialog::Control{cls, id, text, x, y, w, h, static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | (style))});
        SONGINFO_DIALOG_CONTROLS(VANTREL_STANDIN_CONTROL)
#undef VANTREL_STANDIN_CONTROL
        RegisterDialogTemplate(IDD_SONGINFO, std::move(songInfo));
        return true;
    }();
    (void)s_bDone;
}
#endif

} // namespace

int InfoBox(char* file, HWND parent)
{
    {
        CSongPlayer player;
        const std::string path = file ? file : "";
        player.Open(path);
        const CSongDocument& doc = player.GetDocument();
        const bool song = doc.HasSong();
        g_infoTexts.strAuthor = song ? doc.GetAuthor() : std::string();
        g_infoTexts.strCopyright = song ? doc.GetCopyright() : std::string();
        g_infoTexts.strLocation = path;
        g_infoTexts.strGenre = song ? doc.GetGenre() : std::string();
        g_infoTexts.strPublisher = song ? doc.GetPublisher() : std::string();
        // Only a song that loaded has its file open; a file that did not load shows 0.
        // The size is shown as a signed 32-bit number.
        g_infoTexts.nSize = 0;
        if (player.GetFile().IsOpen()) {
            try {
                g_infoTexts.nSize = static_cast<int>(static_cast<uint32_t>(player.GetFile().GetLength()));
            } catch (const CFileException&) {
            }
        }
        g_infoTexts.strTitle = song && doc.GetSong() ? doc.GetSong()->GetTitle() : std::string();

        MakeTemplateKnown();
        DialogBoxParamA(g_module.hDllInstance, MAKEINTRESOURCEA(IDD_SONGINFO), parent, SongInfoDlgProc, 0);
    }
    return 0;
}

INT_PTR CALLBACK SongInfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_SONGINFO_LOCATION, g_infoTexts.strLocation.c_str());
        SetDlgItemTextA(dialog, IDC_SONGINFO_AUTHOR, g_infoTexts.strAuthor.c_str());
        SetDlgItemTextA(dialog, IDC_SONGINFO_TITLE, g_infoTexts.strTitle.c_str());
        SetDlgItemTextA(dialog, IDC_SONGINFO_GENRE, g_infoTexts.strGenre.c_str());
        SetDlgItemTextA(dialog, IDC_SONGINFO_PUBLISHER, g_infoTexts.strPublisher.c_str());
        SetDlgItemTextA(dialog, IDC_SONGINFO_COPYRIGHT, g_infoTexts.strCopyright.c_str());
        SetDlgItemInt(dialog, IDC_SONGINFO_SIZE, static_cast<UINT>(g_infoTexts.nSize), TRUE);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, static_cast<INT_PTR>(wParam));
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}
