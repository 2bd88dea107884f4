; The per-user Windows installer of Parlex: the program goes to
; %LOCALAPPDATA%\Programs\Parlex without administrator rights, so that its
; self-update can replace it there. scripts/package builds it with makensis:
;   makensis -DVERSION=1.0.1.0 -DPROGRAM_DIR=<folder with Parlex.exe and
;            parlex-upload.exe> -DICON=<parlex.ico> -DOUTFILE=<installer.exe>
;            [-DSIGN_UNINSTALLER=<command signing %1 in place>] parlex.nsi
;
; Command line: /S installs silently; /CHATURL=<address> and
; /UPDATEURL=<address> write the user's settings (HKCU\Software\Parlex),
; which the program checks at its start. A running copy is asked to leave
; (see CloseRunning) and started again once the new one is in place.
; Exit codes: 0 installed, 1 cancelled, 2 a wrong address was given, 3 the
; program could not be closed (a capture kept it open or it did not answer).
Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Parlex"
!define SETTINGS_KEY "Software\Parlex"
!define PUBLISHER "Parlex"
; The program's answers to the close request (app/shell_texts.h).
!define CLOSE_BUSY 1
!define CLOSE_ACCEPTED 2
; How long a silent install waits for a capture in progress to end.
!define BUSY_WAIT_SECONDS 600

Name "Ostrel"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Parlex"
Icon "${ICON}"
UninstallIcon "${ICON}"
BrandingText "Parlex ${VERSION}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "Parlex"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "Ostrel (Parlex) installer"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!ifdef SIGN_UNINSTALLER
  !uninstfinalize '${SIGN_UNINSTALLER}'
!endif

; Set when a running copy was closed for the install: it is started again
; afterwards, so the agent finds the program as it was.
Var Restart

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Asks a running copy to leave the way the program leaves, and waits until
; its file is free. A copy in the middle of a capture answers busy: the agent
; is asked to finish it (or, silently, the installer waits for it), and the
; picture is never lost for an install.
!macro CLOSE_RUNNING prefix
Function ${prefix}CloseRunning
  System::Call 'user32::RegisterWindowMessageW(w "ParlexCloseForInstall") i .r9'
  StrCpy $8 0
  StrCpy $7 0
  ${Do}
    FindWindow $0 "#32770" "Ostrel"
    ${If} $0 = 0
      ${Break}
    ${EndIf}
    StrCpy $1 0
    SendMessage $0 $9 0 0 $1 /TIMEOUT=5000
    ${If} $1 = ${CLOSE_ACCEPTED}
      StrCpy $Restart 1
      ; Leaving takes a moment: the tray icon goes, then the window. A copy
      ; that answers but never goes is treated as one that does not answer.
      Sleep 500
      IntOp $7 $7 + 1
      ${If} $7 < 120
        ${Continue}
      ${EndIf}
    ${EndIf}
    ${If} ${Silent}
      ${If} $8 >= ${BUSY_WAIT_SECONDS}
        Goto cancelled
      ${EndIf}
      Sleep 2000
      IntOp $8 $8 + 2
      ${Continue}
    ${EndIf}
    ${If} $1 = ${CLOSE_BUSY}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Ostrel 正在截屏。请先发送、保存或取消截屏，然后点“重试”。$\r$\n(Ostrel is capturing the screen: finish or cancel the capture, then choose Retry.)" IDCANCEL cancelled
    ${Else}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "请从托盘菜单“退出” Ostrel，然后点“重试”。$\r$\n(Quit Ostrel from its tray menu, then choose Retry.)" IDCANCEL cancelled
    ${EndIf}
  ${Loop}

  ; The window is gone; the file is free once the process has ended.
  StrCpy $8 0
  ${Do}
    ${IfNot} ${FileExists} "$INSTDIR\Parlex.exe"
      ${Break}
    ${EndIf}
    ClearErrors
    FileOpen $2 "$INSTDIR\Parlex.exe" a
    ${IfNot} ${Errors}
      FileClose $2
      ${Break}
    ${EndIf}
    ${If} $8 >= 60
      ${If} ${Silent}
        Goto cancelled
      ${EndIf}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "请从托盘菜单“退出” Ostrel，然后点“重试”。$\r$\n(Quit Ostrel from its tray menu, then choose Retry.)" IDCANCEL cancelled
      StrCpy $8 0
    ${EndIf}
    Sleep 500
    IntOp $8 $8 + 1
  ${Loop}
  Return

  cancelled:
  SetErrorLevel 3
  Quit
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING ""
!insertmacro CLOSE_RUNNING "un."

; A given address must at least be an http or https one; the program checks
; the rest at its start and names what is wrong.
!macro CHECK_ADDRESS option
  ClearErrors
  ${GetOptions} $R0 "${option}" $R1
  ${IfNot} ${Errors}
    StrCpy $R2 $R1 7
    StrCpy $R3 $R1 8
    ${If} $R2 != "http://"
    ${AndIf} $R3 != "https://"
      MessageBox MB_OK|MB_ICONSTOP "${option}$R1 不是 http 或 https 地址。$\r$\n(${option}$R1 is not an http or https address.)" /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
!macroend

Function .onInit
  ${GetParameters} $R0
  !insertmacro CHECK_ADDRESS "/CHATURL="
  !insertmacro CHECK_ADDRESS "/UPDATEURL="
FunctionEnd

Section "Parlex"
  SetShellVarContext current
  Call CloseRunning

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${PROGRAM_DIR}\Parlex.exe"
  File "${PROGRAM_DIR}\parlex-upload.exe"
  ; What an update left beside the program belongs to the old version.
  Delete "$INSTDIR\Parlex.旧版本"
  Delete "$INSTDIR\Parlex.新版本"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\Ostrel.lnk" "$INSTDIR\Parlex.exe" "" "$INSTDIR\Parlex.exe" 0

  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/CHATURL=" $R1
  ${IfNot} ${Errors}
    WriteRegStr HKCU "${SETTINGS_KEY}" "ChatUrl" $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/UPDATEURL=" $R1
  ${IfNot} ${Errors}
    WriteRegStr HKCU "${SETTINGS_KEY}" "UpdateUrl" $R1
  ${EndIf}

  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "Ostrel"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Parlex.exe,0"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0

  ${If} $Restart = 1
    Exec '"$INSTDIR\Parlex.exe"'
  ${EndIf}
SectionEnd

; The program, its shortcut and its entry go; the agent's kept captures (in
; the pictures folder), the support log (%LOCALAPPDATA%\Parlex) and the
; settings IT gave stay.
Section "Uninstall"
  SetShellVarContext current
  Call un.CloseRunning
  Delete "$INSTDIR\Parlex.exe"
  Delete "$INSTDIR\parlex-upload.exe"
  Delete "$INSTDIR\Parlex.旧版本"
  Delete "$INSTDIR\Parlex.新版本"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Ostrel.lnk"
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
