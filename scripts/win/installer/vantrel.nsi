; The setup program for Windows users (scripts/win/installer.sh runs makensis on it).
;
; Shows the project's licence, installs in_vantrel.dll into the media player's Plugins
; folder and LICENSES.txt (the notices of everything in the binaries) into a Vantrel
; folder inside the player's folder, with the uninstaller, and, as optional
; components, vantrel.exe, the demo song and a README there too; registers the
; uninstaller in Add/Remove Programs. It never touches file associations: the plug-in claims .vn files
; through its own extension list.
;
;   makensis -DVERSION=MAJOR.MINOR.PATCH.TWEAK -DSOURCE=DIR -DOUTFILE=FILE vantrel.nsi
;
; DIR holds in_vantrel.dll, vantrel.exe, demo.vn, README.txt, LICENSE.txt (the
; project's licence) and LICENSES.txt.
;
; Rights: the manifest asks for none ("asInvoker"), so a player in the user's own
; folders installs without a prompt. When the chosen folder cannot be written (the
; player under Program Files, for a user without elevated rights), the setup says so
; and offers to start itself again as administrator. The uninstall entry goes to
; HKLM when the setup may write there, else to HKCU.
;
; Silent mode: /S, with /D=FOLDER to name the player's folder. The exit code says
; why a silent setup stopped: 0 installed, 3 the player is running, 4 the folder
; holds no winamp.exe, 5 the folder cannot be written.

Unicode true
Target x86-unicode
ManifestSupportedOS all
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!ifndef VERSION | SOURCE | OUTFILE
  !error "define VERSION, SOURCE and OUTFILE (scripts/win/installer.sh does)"
!endif

!define PRODUCT "Vantrel"
!define PUBLISHER "The Vantrel developers"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel"
!define PLAYER_UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
!define PLAYER_KEY "Software\Winamp"
!define PLAYER_CLASS "Winamp v1.x"
!define PLAYER_EXE "winamp.exe"
!define OWN_DIR "Vantrel"
!define UNINSTALLER "Uninstall.exe"

!define EXIT_PLAYER_RUNNING 3
!define EXIT_NO_PLAYER 4
!define EXIT_NOT_WRITABLE 5

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

Name "${PRODUCT} ${VERSION}"
Caption "${PRODUCT} ${VERSION} Setup: VNF songs for Winamp"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

Var PlayerDir ; the uninstaller's: the player's folder (its $INSTDIR is our own folder)

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
; Vantrel's own licence; a page to read, not one to accept (the BSD licence asks
; nothing of users).
!define MUI_LICENSEPAGE_TEXT_TOP "Vantrel is free software under the BSD 3-Clause licence."
!define MUI_LICENSEPAGE_TEXT_BOTTOM "The third-party libraries in Vantrel keep their own licences: LICENSES.txt, installed in the ${OWN_DIR} folder, holds them all."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!define MUI_PAGE_HEADER_TEXT "Licence"
!define MUI_PAGE_HEADER_SUBTEXT "Vantrel's licence; nothing to accept."
!insertmacro MUI_PAGE_LICENSE "${SOURCE}\LICENSE.txt"
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup will install the plug-in into the Plugins folder of the Winamp folder below, and the other components into a folder named ${OWN_DIR} inside it. Winamp was looked for where its own setup registers it; to use another copy of Winamp, choose the folder that holds its ${PLAYER_EXE}."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Winamp folder"
!define MUI_PAGE_HEADER_TEXT "Choose the Winamp Folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the Winamp that is to play VNF songs."
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} setup (VNF song plug-in for Winamp)"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "OriginalFilename" "vantrel-${VERSION}-setup.exe"

; ---- Checks shared by the installer and the uninstaller -----------------------------

; Asks the user to close a running player until it is closed or they cancel. A silent
; setup takes the box's default answer, Cancel, and ends with EXIT_PLAYER_RUNNING.
; A plug-in file that cannot be opened for writing (a player holding it loaded, under
; another window class) counts as running too.
!macro CHECK_PLAYER_CLOSED un
Function ${un}CheckPlayerClosed
  Exch $0 ; the player's folder
  Push $1
  ${Do}
    FindWindow $1 "${PLAYER_CLASS}"
    ${If} $1 = 0
      ${IfNot} ${FileExists} "$0\Plugins\in_vantrel.dll"
        ${Break}
      ${EndIf}
      ClearErrors
      FileOpen $1 "$0\Plugins\in_vantrel.dll" a
      ${IfNot} ${Errors}
        FileClose $1
        ${Break}
      ${EndIf}
      StrCpy $1 "The plug-in $0\Plugins\in_vantrel.dll is in use (by Winamp, or by another program that plays through it).$\r$\n$\r$\nClose that program, then click Retry."
    ${Else}
      StrCpy $1 "Winamp is running.$\r$\n$\r$\nClose Winamp, then click Retry."
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$1" /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_PLAYER_RUNNING}
    Quit
  retry:
  ${Loop}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro CHECK_PLAYER_CLOSED ""
!insertmacro CHECK_PLAYER_CLOSED "un."

; Pushes 1 when files can be created in the folder on the stack's top, else 0.
!macro CAN_WRITE un
Function ${un}CanWrite
  Exch $0
  Push $1
  SetDetailsPrint none
  ClearErrors
  FileOpen $1 "$0\vantrel-setup-check.tmp" w
  ${If} ${Errors}
    StrCpy $0 0
  ${Else}
    FileClose $1
    Delete "$0\vantrel-setup-check.tmp"
    StrCpy $0 1
  ${EndIf}
  SetDetailsPrint lastused
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro CAN_WRITE ""
!insertmacro CAN_WRITE "un."

; Where files are written: the Plugins folder, or the player's folder when it has none.
!macro WRITE_TARGET un
Function ${un}WriteTarget
  Exch $0
  ${If} ${FileExists} "$0\Plugins\*.*"
    StrCpy $0 "$0\Plugins"
  ${EndIf}
  Exch $0
FunctionEnd
!macroend
!insertmacro WRITE_TARGET ""
!insertmacro WRITE_TARGET "un."

; ---- Finding the player ------------------------------------------------------------

; The folder of the program a command line starts: `"C:\Path\Uninst.exe" /args` or
; `C:\Path\Uninst.exe`. In: the command on the stack; out: the folder, or "".
Function CommandFolder
  Exch $0
  Push $1
  Push $2
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
    StrCpy $1 0
    ${Do}
      StrCpy $2 $0 1 $1
      ${IfThen} $2 == "" ${|} ${ExitDo} ${|}
      ${IfThen} $2 == '"' ${|} ${ExitDo} ${|}
      IntOp $1 $1 + 1
    ${Loop}
    StrCpy $0 $0 $1
  ${EndIf}
  ${If} $0 != ""
    ${GetParent} $0 $0
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Sets $INSTDIR to the first of these that holds the player: an earlier install of
; ours, the folder of the uninstaller the player's setup registered (HKLM, then
; HKCU), the player's own key (HKCU, then HKLM), and else Program Files (the 32-bit
; one on 64-bit Windows), where its setup puts it by default.
Function FindPlayer
  Push $0
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ${IfThen} ${FileExists} "$0\${PLAYER_EXE}" ${|} Goto found ${|}
  ReadRegStr $0 HKCU "${UNINST_KEY}" "InstallLocation"
  ${IfThen} ${FileExists} "$0\${PLAYER_EXE}" ${|} Goto found ${|}
  ReadRegStr $0 HKLM "${PLAYER_UNINST_KEY}" "UninstallString"
  Push $0
  Call CommandFolder
  Pop $0
  ${IfThen} ${FileExists} "$0\${PLAYER_EXE}" ${|} Goto found ${|}
  ReadRegStr $0 HKCU "${PLAYER_UNINST_KEY}" "UninstallString"
  Push $0
  Call CommandFolder
  Pop $0
  ${IfThen} ${FileExists} "$0\${PLAYER_EXE}" ${|} Goto found ${|}
  ReadRegStr $0 HKCU "${PLAYER_KEY}" ""
  ${IfThen} ${FileExists} "$0\${PLAYER_EXE}" ${|} Goto found ${|}
  ReadRegStr $0 HKLM "${PLAYER_KEY}" ""
  ${IfThen} ${FileExists} "$0\${PLAYER_EXE}" ${|} Goto found ${|}
  StrCpy $0 "$PROGRAMFILES32\Winamp"
found:
  StrCpy $INSTDIR $0
  Pop $0
FunctionEnd

Function .onInit
  ; /D= sets $INSTDIR before this runs; without it the player is looked for.
  ${If} $INSTDIR == ""
    Call FindPlayer
  ${EndIf}
FunctionEnd

; The folder page: a folder without the player is refused; one that cannot be
; written is refused, with the offer to start the setup again as administrator.
Function DirectoryLeave
  ${IfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
    MessageBox MB_OK|MB_ICONEXCLAMATION "$INSTDIR holds no ${PLAYER_EXE}.$\r$\n$\r$\nChoose the folder that Winamp is installed in." /SD IDOK
    Abort
  ${EndIf}
  Push $INSTDIR
  Call WriteTarget
  Call CanWrite
  Pop $0
  ${If} $0 = 0
    MessageBox MB_YESNO|MB_ICONEXCLAMATION "This account cannot write to $INSTDIR.$\r$\n$\r$\nInstalling there needs administrator rights. Start the setup again as administrator?" /SD IDNO IDNO stay
    ExecShell "runas" "$EXEPATH" "/D=$INSTDIR"
    Quit
  stay:
    Abort
  ${EndIf}
FunctionEnd

; The same checks for a silent setup, which has no folder page; nothing has been
; written when they stop it.
Function CheckFolder
  ${IfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR holds no ${PLAYER_EXE}: nothing was installed." /SD IDOK
    SetErrorLevel ${EXIT_NO_PLAYER}
    Quit
  ${EndIf}
  Push $INSTDIR
  Call WriteTarget
  Call CanWrite
  Pop $0
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "This account cannot write to $INSTDIR (run the setup as administrator): nothing was installed." /SD IDOK
    SetErrorLevel ${EXIT_NOT_WRITABLE}
    Quit
  ${EndIf}
FunctionEnd

; ---- What is installed -------------------------------------------------------------

Section "Plug-in (in_vantrel.dll, into Winamp's Plugins folder)" SecPlugin
  SectionIn RO
  Call CheckFolder
  Push $INSTDIR
  Call CheckPlayerClosed
  SetOutPath "$INSTDIR\Plugins"
  File "${SOURCE}\in_vantrel.dll"
  SetOutPath "$INSTDIR\${OWN_DIR}"
  ; The notices go wherever the binaries go.
  File "${SOURCE}\LICENSES.txt"
  WriteUninstaller "$INSTDIR\${OWN_DIR}\${UNINSTALLER}"
SectionEnd

Section "Command-line tool (vantrel.exe)" SecTool
  SetOutPath "$INSTDIR\${OWN_DIR}"
  File "${SOURCE}\vantrel.exe"
SectionEnd

Section "Demo song (demo.vn)" SecDemo
  SetOutPath "$INSTDIR\${OWN_DIR}"
  File "${SOURCE}\demo.vn"
SectionEnd

Section "README" SecReadme
  SetOutPath "$INSTDIR\${OWN_DIR}"
  File "${SOURCE}\README.txt"
SectionEnd

; The uninstall entry: in HKLM when the setup may write there (all users see it),
; else in HKCU. An entry of an earlier install in the other place is removed.
Section "-Register"
  ClearErrors
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (VNF plug-in for Winamp)"
  ${If} ${Errors}
    SetShellVarContext current
  ${Else}
    SetShellVarContext all
    DeleteRegKey HKCU "${UNINST_KEY}"
  ${EndIf}
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (VNF plug-in for Winamp)"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\${OWN_DIR}\${UNINSTALLER},0"
  WriteRegStr SHCTX "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${OWN_DIR}\${UNINSTALLER}"'
  WriteRegStr SHCTX "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${OWN_DIR}\${UNINSTALLER}" /S'
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINST_KEY}" "NoRepair" 1
  ; The size in KiB: our folder and the plug-in.
  ${GetSize} "$INSTDIR\${OWN_DIR}" "/S=0K" $0 $1 $2
  ${GetSize} "$INSTDIR\Plugins" "/M=in_vantrel.dll /S=0K /G=0" $3 $1 $2
  IntOp $0 $0 + $3
  WriteRegDWORD SHCTX "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

; ---- The uninstaller ---------------------------------------------------------------

Function un.onInit
  ; The uninstaller lives in our folder inside the player's folder.
  ${GetParent} $INSTDIR $PlayerDir
FunctionEnd

; Removes the files the setup installs, by name, and then our folder if nothing else
; is left in it; other files in the player's folders are not touched.
Section "Uninstall"
  Push $PlayerDir
  Call un.WriteTarget
  Call un.CanWrite
  Pop $0
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "This account cannot write to $PlayerDir (run the uninstaller as administrator): nothing was removed." /SD IDOK
    SetErrorLevel ${EXIT_NOT_WRITABLE}
    Quit
  ${EndIf}
  Push $PlayerDir
  Call un.CheckPlayerClosed
  Delete "$PlayerDir\Plugins\in_vantrel.dll"
  Delete "$INSTDIR\vantrel.exe"
  Delete "$INSTDIR\demo.vn"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSES.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINST_KEY}"
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
