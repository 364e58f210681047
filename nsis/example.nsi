; An installer that delivers a release with qelfetch.dll, places it with qelplace.dll and looks
; the part with qelskin.dll; it writes an uninstaller and its entry in the system's list.
;
; Build:  makensis -DQEL_MANIFEST=<manifest.ini> -DQEL_BIN=<folder with the three DLLs>
;                  -DQEL_OUTFILE=<product-setup.exe> [-DQEL_TARGET=amd64-unicode]
;                  [-DQEL_VERSION=<version>] [-DQEL_ALL_USERS] example.nsi
;         QEL_MANIFEST is a manifest or a release index, which is then named release.ini (as
;         qelpack writes it); the index and its parts' manifests (manifest*.ini beside it) are
;         embedded, a manifest alone likewise. QEL_TARGET defaults to x86-unicode (32-bit DLLs in QEL_BIN).
;         The lines to change for a product of your own are the block below. The install is per
;         user ($LOCALAPPDATA\Programs\<product>, no elevation) unless QEL_ALL_USERS is defined
;         (then $PROGRAMFILES, as an administrator, the entry in HKLM).
; Run:    product-setup.exe [/S] [/LOG=<file>] [/D=<folder>]
;         With a Url in the manifests the packages are downloaded into the install folder's
;         staging (again after a network fault, from the index's mirrors too); without one the
;         installer uses the packages in its own folder under their file names (a manifest
;         alone: application.cab).
;         /LOG=<file> writes the failure or cancel line there (UTF-16LE), in silent mode too,
;         with a plain line above it for the failures people meet most.
;         uninstall.exe [/S] [/LOG=<file>] [_?=<folder>] removes what the install recorded.
; Result: exit code 0 when every entry is installed under its Name, 1 when the user cancelled,
;         2 when the delivery or placing failed: $INSTDIR is then as it was.

Unicode true

; ---- Your product: change these lines ---------------------------------------------------------
!define /ifndef PRODUCT "示例应用"
!define /ifndef WELCOME_TITLE "欢迎安装示例应用"
!define /ifndef WELCOME_BODY "从服务器下载应用包， 校验后安装。"
!define /ifndef WELCOME_NOTE "安装中可随时取消。"
!define /ifndef FINISH_TEXT "示例应用已安装完成。"
; The band picture: `qelpack picture logo.png band.bmp` makes one from a PNG; the same picture
; drawn for 150 % and 200 % (`--size`) is used where those files exist.
!define /ifndef PICTURE "band.bmp"
!define /ifndef PICTURE150 "band150.bmp"
!define /ifndef PICTURE200 "band200.bmp"
; Colours (COLORREF 0x00BBGGRR) and the font; the picture's last palette entry should be the
; band colour (qelpack picture --accent).
!define /ifndef QEL_COLOR_BASE 0x00EEF2F4
!define /ifndef QEL_COLOR_BAND 0x006B3B24
!define /ifndef QEL_COLOR_PICTURE 0x0070C0E8
!define /ifndef QEL_FONT_FACE "Microsoft YaHei UI"
; ----------------------------------------------------------------------------------------------

!ifndef QEL_MANIFEST
  !error "example.nsi: give the release manifest with -DQEL_MANIFEST=<manifest.ini>"
!endif
!ifndef QEL_BIN
  !error "example.nsi: give the folder with qelfetch.dll and qelskin.dll with -DQEL_BIN=<folder>"
!endif
!ifndef QEL_OUTFILE
  !error "example.nsi: give the installer to write with -DQEL_OUTFILE=<setup.exe>"
!endif
!if ! /FileExists "${QEL_MANIFEST}"
  !error "example.nsi: the manifest ${QEL_MANIFEST} does not exist"
!endif
; A release index says "Format=qel-release-1"; its folder holds the parts' manifests.
!searchparse /noerrors /file "${QEL_MANIFEST}" "Format=qel-release-" EXAMPLE_INDEX_FORMAT
!ifdef EXAMPLE_INDEX_FORMAT
  !searchreplace EXAMPLE_INDEX_DIR "${QEL_MANIFEST}" "release.ini" ""
  !if ! /FileExists "${EXAMPLE_INDEX_DIR}release.ini"
    !error "example.nsi: a release index must be named release.ini, as qelpack writes it: ${QEL_MANIFEST}"
  !endif
  !define EXAMPLE_RELEASE "release.ini"
  !define EXAMPLE_TOTALS "Release"
!else
  !define EXAMPLE_RELEASE "manifest.ini"
  !define EXAMPLE_TOTALS "Package"
!endif
!ifndef QEL_TARGET
  !define QEL_TARGET x86-unicode
!endif
Target ${QEL_TARGET}

!ifndef QEL_VERSION
  !define QEL_VERSION "1.0"
!endif
!define EXAMPLE_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QelExampleApp"

Name "${PRODUCT}"
Caption " "
OutFile "${QEL_OUTFILE}"
!ifdef QEL_ALL_USERS
  !if ${QEL_TARGET} == amd64-unicode
    InstallDir "$PROGRAMFILES64\${PRODUCT}"
  !else
    InstallDir "$PROGRAMFILES\${PRODUCT}"
  !endif
  RequestExecutionLevel admin
  !define EXAMPLE_ROOT HKLM
!else
  ; Per user: the current convention for installs that need no elevation.
  InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
  RequestExecutionLevel user
  !define EXAMPLE_ROOT HKCU
!endif
ManifestDPIAware true
; The common-controls 6 manifest: without it push buttons send no custom draw.
XPStyle on
BrandingText " "
ShowInstDetails nevershow
!define EXAMPLE_DIR_TEXT "选择安装位置："
DirText "${EXAMPLE_DIR_TEXT}" "安装文件夹" "浏览(&B)…"
; The free-space lines would sit over the waves; the delivery checks the space itself.
SpaceTexts none
MiscButtonText "‹ 上一步(&P)" "下一步(&N) ›" "取消(&C)" "关闭(&L)"
InstallButtonText "安装(&I)"
CompletedText "完成"

!include "qel.nsh"
!include nsDialogs.nsh
!include FileFunc.nsh

Var Result
Var Failure ; the failure line for a person: a plain line for the usual faults, then $QelFailure
Var LogFile
Var Hint      ; the folder page's line about an install already in the folder
Var UnStatus
Var Running   ; ${QelCancel}'s result: a variable, since the section's thread uses the registers
Var Page
Var Title
Var Body
Var Note
Var Yes
Var No

Page custom WelcomeShow
Page directory "" DirectoryShow
Page instfiles "" ProgressShow
Page custom FailureShow
Page custom FinishShow
UninstPage uninstConfirm
UninstPage instfiles "" un.ProgressShow

Function .onInit
  ${QelFiles} "${QEL_BIN}"
  !ifdef QEL_ALL_USERS
    SetShellVarContext all
  !endif
  ${QelPictureFile} "${PICTURE}"
  !if /FileExists "${PICTURE150}"
    ${QelPictureFile150} "${PICTURE150}"
  !endif
  !if /FileExists "${PICTURE200}"
    ${QelPictureFile200} "${PICTURE200}"
  !endif
  !ifdef EXAMPLE_INDEX_FORMAT
    SetOutPath $PLUGINSDIR
    File "${EXAMPLE_INDEX_DIR}release.ini"
    File "${EXAMPLE_INDEX_DIR}manifest*.ini"
    ; SetOutPath made $PLUGINSDIR the current directory, and NSIS cannot remove a current
    ; directory at exit.
    SetOutPath $TEMP
  !else
    File "/oname=$PLUGINSDIR\manifest.ini" "${QEL_MANIFEST}"
  !endif
  StrCpy $Result 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LOG=" $LogFile
  ${IfThen} ${Errors} ${|} StrCpy $LogFile "" ${|}
FunctionEnd

Function .onGUIInit
  ${QelSkinBegin}
FunctionEnd

Function .onGUIEnd
  ${QelSkinEnd}
FunctionEnd

Function .onUserAbort
  ; During the delivery Cancel stops it; the section then ends the install with code 1.
  ${QelCancel} $Running
  ${IfThen} $Running == 1 ${|} Abort ${|}
FunctionEnd

; NSIS calls .onInstFailed only once the user closes a failed install, too late for a failure
; page; with a window the section therefore ends without Abort, and the pages after the
; progress page follow the result: the failure page after a failure, nothing after a cancel
; (both later pages skip themselves, and going past the last page ends the installer, with the
; exit code the section set), the finish page after an install.
Function FailureShow
  ; After a cancel the window goes at once, before NSIS empties it page by page.
  ${If} $Result == 1
    HideWindow
  ${EndIf}
  ${If} $Result != 2
    Abort
  ${EndIf}
  nsDialogs::Create 1018
  Pop $Page
  ${QelSkinPage} $Page
  ${QelSkinFailure} $Page $Failure
  nsDialogs::Show
FunctionEnd

Function WelcomeShow
  nsDialogs::Create 1018
  Pop $Page
  ${NSD_CreateLabel} 0 0 100% 12u "${WELCOME_TITLE}"
  Pop $Title
  ${NSD_CreateLabel} 0 14u 100% 24u "${WELCOME_BODY}"
  Pop $Body
  ${NSD_CreateLabel} 0 40u 100% 12u "${WELCOME_NOTE}"
  Pop $Note
  ${NSD_CreateButton} 0 56u 56u 14u "开始安装(&S)"
  Pop $Yes
  ${NSD_OnClick} $Yes WelcomeYes
  ${NSD_CreateButton} 60u 56u 36u 14u "退出(&X)"
  Pop $No
  ${NSD_OnClick} $No WelcomeNo
  ${QelSkinPage} $Page
  ${QelSkinButton} $Yes
  ${QelSkinButton} $No
  ${QelSkinPrompt} $Page $Title $Body $Note $Yes $No
  ; The prompt's buttons lead on; NSIS's own are hidden on this page. The first one has the
  ; focus, so Enter starts the install.
  GetDlgItem $0 $HWNDPARENT 1
  ShowWindow $0 ${SW_HIDE}
  GetDlgItem $0 $HWNDPARENT 3
  ShowWindow $0 ${SW_HIDE}
  SendMessage $HWNDPARENT ${WM_NEXTDLGCTL} $Yes 1
  nsDialogs::Show
  GetDlgItem $0 $HWNDPARENT 1
  ShowWindow $0 ${SW_SHOW}
  GetDlgItem $0 $HWNDPARENT 3
  ShowWindow $0 ${SW_SHOW}
FunctionEnd

Function WelcomeYes
  SendMessage $HWNDPARENT 0x408 1 0
FunctionEnd

Function WelcomeNo
  SendMessage $HWNDPARENT ${WM_COMMAND} 2 0
FunctionEnd

Function DirectoryShow
  FindWindow $Page "#32770" "" $HWNDPARENT
  ${QelSkinPage} $Page
  ${QelSkinButtons} $Page "1001"
  GetDlgItem $0 $Page 1019
  ${QelSkinInput} $0
  ; The free-space lines (empty with SpaceTexts none) would still cover the waves.
  GetDlgItem $0 $Page 1023
  ShowWindow $0 ${SW_HIDE}
  GetDlgItem $0 $Page 1024
  ShowWindow $0 ${SW_HIDE}
  Call UpgradeHint
FunctionEnd

; The folder page says when the folder already holds an install, and of which version.
; .onVerifyInstDir runs whenever the folder in the field changes.
Function .onVerifyInstDir
  ${IfNot} ${Silent}
    Call UpgradeHint
  ${EndIf}
FunctionEnd

Function UpgradeHint
  Push $0
  Push $1
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $1 $0 1019
  ; Only the folder page has the field 1019; its intro text is 1006.
  ${If} $1 != 0
    ${QelUpgradeLine} $INSTDIR $Hint
    GetDlgItem $1 $0 1006
    ${If} $Hint == ""
      SendMessage $1 ${WM_SETTEXT} 0 "STR:${EXAMPLE_DIR_TEXT}"
    ${Else}
      SendMessage $1 ${WM_SETTEXT} 0 "STR:${EXAMPLE_DIR_TEXT}$\r$\n$Hint"
    ${EndIf}
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

Function ProgressShow
  FindWindow $Page "#32770" "" $HWNDPARENT
  ${QelSkinProgressPage} $Page
FunctionEnd

Function FinishShow
  ${If} $Result != 0
    Abort
  ${EndIf}
  nsDialogs::Create 1018
  Pop $Page
  ${NSD_CreateLabel} 0 30u 100% 12u "${FINISH_TEXT}"
  Pop $Title
  ${NSD_CreateLabel} 0 46u 100% 24u "$INSTDIR"
  Pop $Body
  ${QelSkinPage} $Page
  GetDlgItem $0 $HWNDPARENT 1
  SendMessage $0 ${WM_SETTEXT} 0 "STR:完成(&F)"
  GetDlgItem $0 $HWNDPARENT 2
  ShowWindow $0 ${SW_HIDE}
  GetDlgItem $0 $HWNDPARENT 3
  ShowWindow $0 ${SW_HIDE}
  nsDialogs::Show
FunctionEnd

Section "-deliver"
  ; NSIS's own texts stay in the (hidden) details; the status line shows the delivery's.
  SetDetailsPrint listonly
  !ifdef EXAMPLE_INDEX_FORMAT
    ; The parts' packages beside setup.exe; those with a Url are downloaded.
    StrCpy $2 "$EXEDIR"
  !else
    ReadINIStr $1 "$PLUGINSDIR\manifest.ini" "Package" "Url"
    ${If} $1 == ""
      StrCpy $2 "$EXEDIR\application.cab"
    ${Else}
      StrCpy $2 ""  ; downloaded into the install folder's staging
    ${EndIf}
  !endif
  ${QelInstall} "$PLUGINSDIR\${EXAMPLE_RELEASE}" $2 $QelStatusControl $QelBarControl $Result
  ${If} $Result != 0
    SetErrorLevel $Result
    ${QelFailureText} $QelFailure $2 $Failure
    ${If} $LogFile != ""
      FileOpen $0 $LogFile w
      FileWriteUTF16LE /BOM $0 "$Failure$\r$\n"
      FileClose $0
    ${EndIf}
    ; A silent install ends here. With a window the next page shows the failure (FailureShow).
    ${IfThen} ${Silent} ${|} Abort ${|}
  ${Else}
    ; The uninstaller and its entry in the system's list of programs (not in the record: the
    ; uninstaller removes itself after what the record lists).
    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr ${EXAMPLE_ROOT} "${EXAMPLE_UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr ${EXAMPLE_ROOT} "${EXAMPLE_UNINSTALL_KEY}" "DisplayVersion" "${QEL_VERSION}"
    WriteRegStr ${EXAMPLE_ROOT} "${EXAMPLE_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr ${EXAMPLE_ROOT} "${EXAMPLE_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr ${EXAMPLE_ROOT} "${EXAMPLE_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    ; A release's total may pass 2^31, beyond IntOp: 64-bit division.
    ReadINIStr $0 "$PLUGINSDIR\${EXAMPLE_RELEASE}" "${EXAMPLE_TOTALS}" "UnpackedSize"
    System::Int64Op $0 / 1024
    Pop $0
    WriteRegDWORD ${EXAMPLE_ROOT} "${EXAMPLE_UNINSTALL_KEY}" "EstimatedSize" $0
    WriteRegDWORD ${EXAMPLE_ROOT} "${EXAMPLE_UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD ${EXAMPLE_ROOT} "${EXAMPLE_UNINSTALL_KEY}" "NoRepair" 1
  ${EndIf}
  ; The progress page leads on by itself: to the failure page or to the finish page.
  SetAutoClose true
SectionEnd

; The uninstaller: unskinned pages (confirm, progress), the same exit codes and /LOG file.
Function un.onInit
  ${QelFiles} "${QEL_BIN}"
  !ifdef QEL_ALL_USERS
    SetShellVarContext all
  !endif
  StrCpy $Result 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LOG=" $LogFile
  ${IfThen} ${Errors} ${|} StrCpy $LogFile "" ${|}
  StrCpy $UnStatus 0
FunctionEnd

Function un.onUserAbort
  ${QelCancel} $Running
  ${IfThen} $Running == 1 ${|} Abort ${|}
FunctionEnd

Function un.ProgressShow
  FindWindow $0 "#32770" "" $HWNDPARENT
  GetDlgItem $UnStatus $0 1006
FunctionEnd

Section "Uninstall"
  SetDetailsPrint listonly
  ${QelUninstall} $UnStatus $Result
  ${If} $Result != 0
    SetErrorLevel $Result
    ${If} $LogFile != ""
      FileOpen $0 $LogFile w
      FileWriteUTF16LE /BOM $0 "$QelFailure$\r$\n"
      FileClose $0
    ${EndIf}
    Abort
  ${EndIf}
  ; What the record listed is gone; the uninstaller, its entry and the folder follow (the folder
  ; only when empty: files the user changed or made stay).
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey ${EXAMPLE_ROOT} "${EXAMPLE_UNINSTALL_KEY}"
  RMDir "$INSTDIR"
SectionEnd
