; qel.nsh: qelfetch.dll (payload delivery), qelplace.dll (placing it into the install folder,
; uninstall) and qelskin.dll (the dialogs' look) for NSIS 3 scripts.
;
; Needs `Unicode true`. The DLLs are extracted into $PLUGINSDIR and called through the System
; plug-in with their plain export names. Handles are `p`, so one script builds x86-unicode and
; amd64-unicode installers (give the matching DLLs to ${QelFiles}).
;
; Reference (every macro is also described where it is defined):
;   ${QelFiles} BIN_FOLDER              .onInit (and un.onInit): put the three DLLs into
;                                       $PLUGINSDIR (checked when built)
;   ${QelInstall} MANIFEST PACKAGE STATUS BAR RESULT
;                                       a section: the release (an index or a manifest) into
;                                       $INSTDIR as one transaction (the parts delivered into
;                                       the folder's staging, retried on network faults, then
;                                       placed);
;                                       RESULT 0 installed, 1 cancelled, 2 failed ($QelFailure
;                                       holds the failure line); the record keeps QEL_VERSION
;   ${QelUninstall} STATUS RESULT       the uninstaller's section: removes what the record lists
;   ${QelCancel} RESULT                 .onUserAbort: cancels a running install or uninstall
;                                       (RESULT 1: Abort there so the installer stays until the
;                                       section has closed the jobs), RESULT 0 when nothing runs
;   ${QelPictureFile} BMP               .onInit, after ${QelFiles}: the band picture for 100 % (the
;                                       build stops when qelpack picture --check refuses it)
;   ${QelPictureFile150} BMP            .onInit, optional: the same picture for 150 % (144 DPI)
;   ${QelPictureFile200} BMP            .onInit, optional: the same picture for 200 % (192 DPI)
;   ${QelFailureText} LINE PACKAGE RESULT
;                                       LINE with a plain line above it for the usual failures
;                                       (certificate, server, proxy, disk, missing package)
;   ${QelUpgradeLine} FOLDER RESULT     "" when FOLDER holds no install record, else the line
;                                       saying which version is there and what comes instead
;   ${QelSkinBegin}                     .onGUIInit: colours, caption, frame, font, band picture
;   ${QelSkinPage} PAGE                 a page's show callback: page background, font
;   ${QelSkinButtons} WINDOW "ID ..."   push buttons of WINDOW by control id
;   ${QelSkinButton} BUTTON             one push button by its window
;   ${QelSkinInput} EDIT                a flat edit frame
;   ${QelSkinPrompt} PAGE T1 T2 T3 B1 B2  the prompt card on a custom page
;   ${QelSkinProgressPage} PAGE         install-files page: details hidden, bar frozen, status
;                                       line announced, laid out right of the band; sets
;                                       $QelStatusControl/$QelBarControl
;   ${QelSkinFailure} PAGE TEXT         the failure page: a custom page after the progress page
;   ${QelSkinEnd}                       .onGUIEnd: font and picture freed, qelskin.dll unloaded
;
; High contrast: when it is on as the installer starts, ${QelSkinBegin} and the skin macros leave
; every window in the system's look; only what carries behaviour is still done (the frozen bar
; and the status line of the progress page, the failure page's close button and text, the frame
; that closes the installer on that button). Switched on later, the styled windows give up their
; colours by themselves (qelskin.dll) and take them back when it goes off.
;
; Threads: ${QelInstall} and ${QelUninstall} run on the section's thread (they sleep between
; polls); every skin macro runs on the UI thread (.onGUIInit, page show callbacks, .onGUIEnd).
; ${QelCancel} may be called from the UI thread while the section runs.
;
; Unloading: System keeps a DLL loaded until a call carries `?u`. The include makes that call
; once per DLL and job: qelplace.dll on ReleaseClose (which has closed its qelfetch.dll
; deliveries and let qelfetch.dll go first) and on PlaceClose (one job runs at a time), qelskin.dll in ${QelSkinEnd}, after the main window is gone. NSIS can then
; delete $PLUGINSDIR at exit.

!ifndef QEL_NSH_INCLUDED
!define QEL_NSH_INCLUDED

!ifndef NSIS_UNICODE
  !error "qel.nsh: add 'Unicode true' to the script: an ANSI installer turns every Chinese text and path into '?'"
!endif

!include LogicLib.nsh
!include Util.nsh
!include WinMessages.nsh

!define QEL_WM_PREVIEW_SETPOS 0x8001
!define QEL_PHASE_READY 5
!define QEL_PHASE_FAILED 6
!define QEL_PHASE_CANCELLED 7
!ifndef QEL_POLL_MS
  !define QEL_POLL_MS 200
!endif

; Colours of the look (COLORREF 0x00BBGGRR); define them before the !include to change them.
!ifndef QEL_COLOR_BASE
  !define QEL_COLOR_BASE 0x00EEF2F4
!endif
!ifndef QEL_COLOR_BAND
  !define QEL_COLOR_BAND 0x006B3B24
!endif
!ifndef QEL_COLOR_PICTURE
  !define QEL_COLOR_PICTURE 0x0070C0E8
!endif
!ifndef QEL_COLOR_TEXT
  !define QEL_COLOR_TEXT 0x001E1E1E
!endif
!ifndef QEL_FONT_FACE
  !define QEL_FONT_FACE "Microsoft YaHei UI"
!endif
!ifndef QEL_FONT_POINTS
  !define QEL_FONT_POINTS 9
!endif
; Width of the left band, in dialog units of the page.
!ifndef QEL_BAND_DU
  !define QEL_BAND_DU 90
!endif
; NSIS's window is widened by this many dialog units in ${QelSkinBegin}: with the band, its
; pages are too narrow for the prompt card (a column from 114 to 280 units) and for the
; controls NSIS places across the band.
!ifndef QEL_WIDEN_DU
  !define QEL_WIDEN_DU 40
!endif

Var QelFailure        ; the failure line of the last ${QelInstall} ("" after success)
Var QelJob            ; the running install's release job, 0 when none
Var QelCancelAsked    ; 1 once the user asked to cancel
Var QelStatusControl  ; window for the status text (0: none)
Var QelBarControl     ; frozen progress bar for the percentage (0: none)
Var QelSkinLoaded     ; 1 once qelskin.dll has been called
Var QelFont
Var QelPicture
Var QelPictureScale   ; the loaded picture's size in percent: 100, 150 or 200
Var QelSkinOff        ; 1 when high contrast was on at ${QelSkinBegin}: nothing is painted
Var QelMainCard       ; 1 while the main window's background matches a page's prompt card
Var QelPictureDu      ; width of the picture box in dialog units, for the picture's own size
Var QelRectL          ; a window's place, from QelChildRect
Var QelRectT
Var QelRectR
Var QelRectB

; ---------------------------------------------------------------------------------------------
; ${QelFiles} BIN_FOLDER: extracts qelfetch.dll and qelskin.dll from BIN_FOLDER (on the build
; machine) into $PLUGINSDIR. Call it in .onInit. The build stops when either DLL is missing.
!macro QelFiles BIN
  ; Where the kit's other programs lie (qelpack.exe checks the band picture on Windows).
  !define /ifndef _QEL_BIN "${BIN}"
  !if ! /FileExists "${BIN}/qelfetch.dll"
    !error "qel.nsh: ${BIN}/qelfetch.dll does not exist"
  !endif
  !if ! /FileExists "${BIN}/qelskin.dll"
    !error "qel.nsh: ${BIN}/qelskin.dll does not exist"
  !endif
  !if ! /FileExists "${BIN}/qelplace.dll"
    !error "qel.nsh: ${BIN}/qelplace.dll does not exist"
  !endif
  InitPluginsDir
  File "/oname=$PLUGINSDIR\qelfetch.dll" "${BIN}/qelfetch.dll"
  File "/oname=$PLUGINSDIR\qelskin.dll" "${BIN}/qelskin.dll"
  File "/oname=$PLUGINSDIR\qelplace.dll" "${BIN}/qelplace.dll"
  StrCpy $QelJob 0
  StrCpy $QelPlace 0
  StrCpy $QelCancelAsked 0
  StrCpy $QelSkinLoaded 0
  StrCpy $QelFont 0
  StrCpy $QelPicture 0
  StrCpy $QelPictureScale 100
  StrCpy $QelSkinOff 0
  StrCpy $QelMainCard 0
  StrCpy $QelFailure ""
  ${IfThen} $QelStatusControl == "" ${|} StrCpy $QelStatusControl 0 ${|}
  ${IfThen} $QelBarControl == "" ${|} StrCpy $QelBarControl 0 ${|}
!macroend
!define QelFiles "!insertmacro QelFiles"


; Internal functions take their input in $QelIn (and $QelIn2) and leave their result in
; $QelOut; they keep every register as they found it.
Var QelIn
Var QelIn2
Var QelOut
Var QelPlace          ; the running placement job's handle, 0 when none
Var QelPhase          ; what the poll loops read (their own variables, not registers)
Var QelPercent
Var QelText
Var QelCall

!include Util.nsh

; The pause between two polls: 20 ms during the first second of a loop (a step that ends in
; moments, taking the folder's lock or placing a small release, is not kept waiting for a whole
; poll), then QEL_POLL_MS. $QelRound counts the polls of the current loop.
Var QelRound
!macro _QelPause
  ${If} $QelRound < 50
    Sleep 20
  ${Else}
    Sleep ${QEL_POLL_MS}
  ${EndIf}
  IntOp $QelRound $QelRound + 1
!macroend

; ---------------------------------------------------------------------------------------------
; Placing. qelplace.dll takes the install folder's lock, finishes what a killed run left, hands
; out a work directory inside the folder's staging for the delivery, checks every Name before
; the download starts, and places the release as one transaction: every existing target moved
; aside first, everything undone on a failure or a cancel, the install record written last.
; Poll loop of placement job $QelIn (an artificial function: it serves the installer and the
; uninstaller): polls every QEL_POLL_MS ms, shows the text in $QelStatusControl and the
; percentage, from $QelIn2 to 100, in the frozen bar $QelBarControl, and passes on a cancel the
; user asked for. $QelOut: the final phase (5, 6 or 7); $QelFailure: the final text.
!macro QelPlaceWait_
  ; Only the include's own variables: .onUserAbort runs on the UI thread while this loop runs
  ; on the section's, and NSIS's registers are shared by both.
  StrCpy $QelPhase 0
  StrCpy $QelRound 0
  ${Do}
    ${If} $QelCancelAsked == 1
      System::Call "$PLUGINSDIR\qelplace.dll::PlaceCancel(p $QelIn) i .s"
      Pop $QelCall
    ${EndIf}
    System::Call "$PLUGINSDIR\qelplace.dll::PlacePoll(p $QelIn, *i .s, *i .s, w .s, i ${NSIS_MAX_STRLEN}) i .s"
    Pop $QelCall
    Pop $QelPhase
    Pop $QelPercent
    Pop $QelText
    ${If} $QelCall != 1
      StrCpy $QelText "qel.nsh: PlacePoll failed ($QelCall)"
      StrCpy $QelPhase ${QEL_PHASE_FAILED}
      ${Break}
    ${EndIf}
    ${If} $QelStatusControl != 0
      SendMessage $QelStatusControl ${WM_SETTEXT} 0 "STR:$QelText"
    ${EndIf}
    ${If} $QelBarControl != 0
      IntOp $QelCall 100 - $QelIn2
      IntOp $QelCall $QelCall * $QelPercent
      IntOp $QelCall $QelCall / 100
      IntOp $QelCall $QelCall + $QelIn2
      SendMessage $QelBarControl ${QEL_WM_PREVIEW_SETPOS} $QelCall 0
    ${EndIf}
    ${IfThen} $QelPhase >= ${QEL_PHASE_READY} ${|} ${Break} ${|}
    !insertmacro _QelPause
  ${Loop}
  StrCpy $QelOut $QelPhase
  StrCpy $QelFailure $QelText
!macroend

; Closes placement job $QelIn, unloading qelplace.dll with the call (?u): one job runs at a time.
; A job that could not remove everything of its own (a program still runs from a backup) says
; so in the details; the next install or uninstall removes what is left.
!macro QelPlaceClose_
  StrCpy $QelPlace 0
  System::Call "$PLUGINSDIR\qelplace.dll::PlaceClose(p $QelIn) i .s ?u"
  Pop $QelCall
  ${If} $QelCall != 1
    DetailPrint "qel.nsh: PlaceClose left files in the staging folder; the next run removes them"
  ${EndIf}
!macroend

; ---------------------------------------------------------------------------------------------
; ${QelInstall} MANIFEST PACKAGE STATUS BAR RESULT, in a section (the section's thread):
; installs a release into $INSTDIR as one transaction. MANIFEST is a release index
; (release.ini) or a single manifest. PACKAGE: for an index the folder that holds the parts'
; packages ("" for the index's own folder; parts with a Url are downloaded), for a manifest its
; placed package file, or "" to download it (the manifest's Url). qelplace.dll's release job
; takes the folder, checks every Name of every part, delivers the parts two at a time with
; qelfetch.dll (a part whose download a network fault broke is fetched again after a pause, from
; the index's mirrors too), then places everything. The text goes into window STATUS and the
; percentage over the whole release into the frozen bar BAR (0 for none): delivering fills 90 %,
; placing the rest. With a window, a placing that fails (a file in use) asks Retry/Cancel first.
; The record keeps QEL_VERSION (define it before the !include). RESULT: 0 installed,
; 1 cancelled (by ${QelCancel}), 2 failed; $QelFailure then holds the failure line (also in
; the details). After 1 or 2 $INSTDIR is as it was.
!ifndef QEL_VERSION
  !define QEL_VERSION ""
!endif
!define QEL_RELEASE_PLACING_FAILED 8
!macro QelInstall MANIFEST PACKAGE STATUS BAR RESULT
  Push "${BAR}"
  Push "${STATUS}"
  StrCpy $QelIn2 "${PACKAGE}"
  StrCpy $QelIn "${MANIFEST}"
  Pop $QelStatusControl
  Pop $QelBarControl
  Call QelInstallRelease
  StrCpy ${RESULT} $QelOut
!macroend
!define QelInstall "!insertmacro QelInstall"

Function QelInstallRelease
  Push $0 ; release or manifest
  Push $1 ; package (folder or file)
  Push $4 ; result
  Push $8 ; call result
  Push $9
  StrCpy $0 $QelIn
  StrCpy $1 $QelIn2
  StrCpy $QelFailure ""
  StrCpy $4 2
  ${IfNot} ${FileExists} "$PLUGINSDIR\qelplace.dll"
  ${OrIfNot} ${FileExists} "$PLUGINSDIR\qelfetch.dll"
    StrCpy $QelFailure "qel.nsh: qelfetch.dll or qelplace.dll is not in $$PLUGINSDIR; QelFiles was not called in .onInit"
    Goto qel_install_end
  ${EndIf}
  ${If} $QelJob != 0
  ${OrIf} $QelPlace != 0
    StrCpy $QelFailure "qel.nsh: an install is already running"
    Goto qel_install_end
  ${EndIf}
  StrCpy $QelCancelAsked 0
  ; NSIS disables Cancel while sections run; the install can be cancelled until placing has
  ; passed its commit point (a later Cancel comes too late: the install completes).
  ${If} $HWNDPARENT != 0
    GetDlgItem $9 $HWNDPARENT 2
    EnableWindow $9 1
    ; NSIS made the page with Cancel disabled, so the focus sat on no button: a keyboard user
    ; starts on Cancel (Esc and Enter both cancel).
    SendMessage $HWNDPARENT ${WM_NEXTDLGCTL} $9 1
  ${EndIf}

  StrCpy $9 $INSTDIR
  StrCpy $8 "${QEL_VERSION}"
  System::Call "$PLUGINSDIR\qelplace.dll::ReleaseStart(w r0, w r1, w r9, w r8) p .r9"
  ${If} $9 == "error"
    StrCpy $QelFailure "qel.nsh: qelplace.dll cannot be loaded or lacks ReleaseStart (a DLL for another processor?)"
    Goto qel_install_end
  ${EndIf}
  ${If} $9 == 0
    StrCpy $QelFailure "安装文件夹路径无效：$INSTDIR"
    Goto qel_install_end
  ${EndIf}
  StrCpy $QelJob $9
  ; One loop over the whole release; again after Retry when placing failed (the staged files
  ; are given back after a failed try). Only the include's own variables: .onUserAbort runs on
  ; the UI thread meanwhile, and NSIS's registers are shared by both threads.
  ${Do}
    StrCpy $QelRound 0
    ${Do}
      ${If} $QelCancelAsked == 1
        System::Call "$PLUGINSDIR\qelplace.dll::ReleaseCancel(p $QelJob) i .s"
        Pop $QelCall
      ${EndIf}
      System::Call "$PLUGINSDIR\qelplace.dll::ReleasePoll(p $QelJob, *i .s, *i .s, w .s, i ${NSIS_MAX_STRLEN}) i .s"
      Pop $QelCall
      Pop $QelPhase
      Pop $QelPercent
      Pop $QelText
      ${If} $QelCall != 1
        StrCpy $QelText "qel.nsh: ReleasePoll failed ($QelCall)"
        StrCpy $QelPhase ${QEL_PHASE_FAILED}
        ${Break}
      ${EndIf}
      ${If} $QelStatusControl != 0
        SendMessage $QelStatusControl ${WM_SETTEXT} 0 "STR:$QelText"
      ${EndIf}
      ${If} $QelBarControl != 0
        SendMessage $QelBarControl ${QEL_WM_PREVIEW_SETPOS} $QelPercent 0
      ${EndIf}
      ${IfThen} $QelPhase >= ${QEL_PHASE_READY} ${|} ${Break} ${|}
      !insertmacro _QelPause
    ${Loop}
    StrCpy $QelFailure $QelText
    ${If} $QelPhase == ${QEL_PHASE_READY}
      StrCpy $4 0
      StrCpy $QelFailure ""
      ${Break}
    ${EndIf}
    ${If} $QelPhase == ${QEL_PHASE_CANCELLED}
      StrCpy $4 1
      ${Break}
    ${EndIf}
    ${If} $QelPhase != ${QEL_RELEASE_PLACING_FAILED}
    ${OrIf} $QelCancelAsked == 1
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$QelFailure" /SD IDCANCEL IDRETRY qel_install_retry
    ${Break}
    qel_install_retry:
    System::Call "$PLUGINSDIR\qelplace.dll::ReleaseRetry(p $QelJob) i .s"
    Pop $8
    ${IfThen} $8 != 1 ${|} ${Break} ${|}
  ${Loop}

  ; Cancel is NSIS's again (disabled while sections run): from here on the job is being closed,
  ; and a Cancel that NSIS took for itself would end the installer under the section.
  ${If} $HWNDPARENT != 0
    GetDlgItem $9 $HWNDPARENT 2
    EnableWindow $9 0
  ${EndIf}
  ; The job closes its deliveries, then its placement job, then qelfetch.dll; qelplace.dll goes
  ; with this call (?u): its threads have ended.
  System::Call "$PLUGINSDIR\qelplace.dll::ReleaseClose(p $QelJob) i .s ?u"
  StrCpy $QelJob 0
  Pop $8
  ${If} $8 != 1
    DetailPrint "qel.nsh: ReleaseClose left files in the staging folder; the next run removes them"
  ${EndIf}
  qel_install_end:
  ${If} $4 != 0
    DetailPrint $QelFailure
  ${EndIf}
  StrCpy $QelOut $4
  Pop $9
  Pop $8
  Pop $4
  Pop $1
  Pop $0
FunctionEnd

; ${QelUninstall} STATUS RESULT, in the uninstaller's section: removes exactly what $INSTDIR's
; install record lists (and the folders that became empty, the record, and $INSTDIR when empty);
; files the user changed stay. The text goes into window STATUS (0 for none). With a window, a
; file in use asks Retry/Cancel first. RESULT: 0 removed, 1 cancelled, 2 failed with nothing
; removed; $QelFailure then holds the line. Needs ${QelFiles} in un.onInit.
!macro QelUninstall STATUS RESULT
  Push "${STATUS}"
  Pop $QelStatusControl
  StrCpy $QelBarControl 0
  ${CallArtificialFunction} QelRemoveInstall_
  StrCpy ${RESULT} $QelOut
!macroend
!define QelUninstall "!insertmacro QelUninstall"

!macro QelRemoveInstall_
  StrCpy $QelFailure ""
  StrCpy $QelOut 2
  StrCpy $QelCancelAsked 0
  ${IfNot} ${FileExists} "$PLUGINSDIR\qelplace.dll"
    StrCpy $QelFailure "qel.nsh: qelplace.dll is not in $$PLUGINSDIR; QelFiles was not called in un.onInit"
  ${Else}
    ${Do}
      StrCpy $QelText $INSTDIR
      System::Call "$PLUGINSDIR\qelplace.dll::RemoveStart(w '$QelText') p .s"
      Pop $QelPlace
      ${If} $QelPlace == 0
      ${OrIf} $QelPlace == "error"
        StrCpy $QelPlace 0
        StrCpy $QelFailure "qel.nsh: RemoveStart refused $INSTDIR (or qelplace.dll cannot be loaded)"
        StrCpy $QelOut 2
        ${Break}
      ${EndIf}
      StrCpy $QelIn $QelPlace
      StrCpy $QelIn2 0
      ${CallArtificialFunction} QelPlaceWait_
      StrCpy $QelIn $QelPlace
      ${CallArtificialFunction} QelPlaceClose_
      ${If} $QelPhase == ${QEL_PHASE_READY}
        StrCpy $QelOut 0
        StrCpy $QelFailure ""
        ${Break}
      ${EndIf}
      StrCpy $QelOut 2
      ${If} $QelPhase == ${QEL_PHASE_CANCELLED}
      ${OrIf} $QelCancelAsked == 1
        StrCpy $QelOut 1
        ${Break}
      ${EndIf}
      ; Nothing was removed: after Retry a new job starts over.
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$QelFailure" /SD IDCANCEL IDRETRY qel_remove_retry
      ${Break}
      qel_remove_retry:
    ${Loop}
  ${EndIf}
  ${If} $QelOut != 0
    DetailPrint $QelFailure
  ${EndIf}
!macroend

; ${QelCancel} RESULT, on the UI thread (.onUserAbort, un.onUserAbort): asks the running
; install or uninstall to stop. RESULT should be a variable of the script's own, not a register:
; the section runs at the same time on its own thread, and NSIS's registers are shared. RESULT 1: one was running; call Abort there so the installer
; waits for the section to close its jobs (${QelInstall} then returns 1, or 0 when placing had
; passed its commit point). RESULT 0: nothing runs. The section's thread makes the cancel calls
; at its next poll, so no job is ever touched from the UI thread while the section may be
; closing it.
!macro QelCancel RESULT
  StrCpy ${RESULT} 0
  ${If} $QelJob != 0
  ${AndIf} $QelJob != ""
    StrCpy ${RESULT} 1
  ${EndIf}
  ${If} $QelPlace != 0
  ${AndIf} $QelPlace != ""
    StrCpy ${RESULT} 1
  ${EndIf}
  ${IfThen} ${RESULT} == 1 ${|} StrCpy $QelCancelAsked 1 ${|}
!macroend
!define QelCancel "!insertmacro QelCancel"

; ---------------------------------------------------------------------------------------------
; ${QelUpgradeLine} FOLDER RESULT, anywhere (a folder page's show callback, .onVerifyInstDir):
; RESULT is "" when FOLDER holds no install record, else one line for the folder page:
; "已安装 1.0，将更新到 2.0。" with the record's version and QEL_VERSION, "已安装 2.0，将重新安装。"
; when they are the same, "已安装，将更新到 2.0。" for a record without a version ("…将更新。"
; when QEL_VERSION is not defined).
!macro QelUpgradeLine FOLDER RESULT
  Push "${FOLDER}"
  ${CallArtificialFunction} _QelUpgradeLine
  Pop ${RESULT}
!macroend
!define QelUpgradeLine "!insertmacro QelUpgradeLine"

; Stack in: the folder. Stack out: the line.
!macro _QelUpgradeLine
  Exch $0 ; folder, then the line
  Push $1
  StrCpy $1 ""
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\qel-install.ini"
  ${AndIfNot} ${FileExists} "$0\qel-install.ini\*.*"
    ReadINIStr $1 "$0\qel-install.ini" "Install" "Version"
    !if "${QEL_VERSION}" == ""
      ; No version of its own to name: only what is there.
      ${If} $1 == ""
        StrCpy $0 "已安装，将更新。"
      ${Else}
        StrCpy $0 "已安装 $1，将更新。"
      ${EndIf}
    !else
      ${If} $1 == ""
        StrCpy $0 "已安装，将更新到 ${QEL_VERSION}。"
      ${ElseIf} $1 S== "${QEL_VERSION}"
        StrCpy $0 "已安装 $1，将重新安装。"
      ${Else}
        StrCpy $0 "已安装 $1，将更新到 ${QEL_VERSION}。"
      ${EndIf}
    !endif
  ${Else}
    StrCpy $0 ""
  ${EndIf}
  Pop $1
  Exch $0
!macroend

; ---------------------------------------------------------------------------------------------
; ${QelFailureText} LINE PACKAGE RESULT, anywhere: RESULT is LINE (a failure line of
; ${QelInstall}, $QelFailure) with one plain line above it, CR LF between, for the failures
; people meet most; LINE alone for any other. The plain line is chosen by the code in LINE's
; "（错误码 N）" or "（HTTP N）": a certificate that is not trusted or names another host, a
; server that cannot be reached, a host name that is not known, a proxy that wants a login, a
; full disk, and the package missing where the installer looks for it (PACKAGE, the path given
; to ${QelInstall}, is named).
!macro QelFailureText LINE PACKAGE RESULT
  Push "${PACKAGE}"
  Push "${LINE}"
  ${CallArtificialFunction} _QelFailureWithHint
  Pop ${RESULT}
!macroend
!define QelFailureText "!insertmacro QelFailureText"

; Both bodies below are artificial functions (Util.nsh): emitted only into installers (and
; uninstallers) that use ${QelFailureText}.

; $QelIn: a text, $QelIn2: a marker. $QelOut: the digits right after the first marker, or "".
!macro _QelCodeAfter
  Push $0
  Push $1
  Push $2
  Push $3
  StrLen $1 $QelIn2
  StrCpy $0 0
  StrCpy $QelOut ""
  ${Do}
    StrCpy $2 $QelIn $1 $0
    ${IfThen} $2 == "" ${|} ${Break} ${|}
    ${If} $2 == $QelIn2
      IntOp $0 $0 + $1
      ${Do}
        StrCpy $3 $QelIn 1 $0
        ; One character is a digit when adding 0 to it gives it back.
        IntOp $2 $3 + 0
        ${IfThen} $3 == "" ${|} ${Break} ${|}
        ${IfThen} $2 != $3 ${|} ${Break} ${|}
        StrCpy $QelOut "$QelOut$3"
        IntOp $0 $0 + 1
      ${Loop}
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
!macroend

; Stack in: the line, then the package. Stack out: the text for a person.
!macro _QelFailureWithHint
  Exch $0 ; line
  Exch
  Exch $1 ; package
  Push $2 ; hint
  Push $3
  StrCpy $2 ""
  StrCpy $QelIn $0
  StrCpy $QelIn2 "（错误码 "
  ${CallArtificialFunction} _QelCodeAfter
  StrCpy $3 $QelOut
  ${Select} $3
  ${Case4} 12157 12175 12045 12038
    StrCpy $2 "无法验证下载服务器的证书。请检查系统时间，或联系软件提供者。"
  ${Case2} 12029 12002
    StrCpy $2 "无法连接下载服务器。请检查网络连接，稍后再试。"
  ${Case} 12007
    StrCpy $2 "找不到下载服务器。请检查网络连接，或联系软件提供者。"
  ${Case} 112
    StrCpy $2 "磁盘空间已满。请释放一些空间后再试。"
  ${Case2} 2 3
    ; Only the package itself: the same codes mean other things in other lines.
    StrCpy $3 $0 7
    ${If} $3 == "应用包无法读取"
      StrCpy $2 "找不到应用包。请把应用包放在：$1"
    ${EndIf}
  ${EndSelect}
  ${If} $2 == ""
    StrCpy $QelIn2 "（HTTP "
    ${CallArtificialFunction} _QelCodeAfter
    ${If} $QelOut == 407
      StrCpy $2 "网络代理要求登录。请在系统的代理设置中登录后再试。"
    ${EndIf}
  ${EndIf}
  ${If} $2 != ""
    StrCpy $0 "$2$\r$\n$0"
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Exch $0
!macroend

; ---------------------------------------------------------------------------------------------
; Skinning, on the UI thread. A failed call is recorded in $QelSkinFault (the first one only):
; the look is never worth failing an install for, but the author can see what went wrong.
; In a silent install (no window) every skin macro does nothing, so qelskin.dll is never
; loaded where ${QelSkinEnd} (a .onGUIEnd step, which silent installs skip) cannot unload it.
Var QelSkinFault

!macro _QelSkinCheck NAME
  Pop $QelOut
  ${If} $QelOut == 0
  ${OrIf} $QelOut == "error"
    ${IfThen} $QelSkinFault == "" ${|} StrCpy $QelSkinFault "qel.nsh: ${NAME} failed" ${|}
  ${EndIf}
!macroend

; ${QelPictureFile} BMP, ${QelPictureFile150} BMP, ${QelPictureFile200} BMP: carry the band
; picture (an 8-bit picture with a 256-entry colour table, on the build machine; `qelpack picture
; IN OUT.bmp` makes one from a PNG or BMP) drawn for 100 % (96 DPI), 150 % (144 DPI) and 200 %
; (192 DPI) in the installer, and extract it for the band. Call them in .onInit after
; ${QelFiles}: ${QelPictureFile} always, the other two when you have those sizes. ${QelSkinBegin}
; takes the size nearest the window's DPI (the larger of two as near) and draws it at its own
; size where the DPI is the one it was drawn for, scaled otherwise. The build stops when a file
; is missing or is not a picture the skin can use.
!macro _QelPictureFileAt PERCENT BMP
  !if ! /FileExists "${BMP}"
    !error "qel.nsh: the band picture ${BMP} does not exist"
  !endif
  !insertmacro _QelCheckPicture "${BMP}"
  File "/oname=$PLUGINSDIR\qelband${PERCENT}.bmp" "${BMP}"
!macroend
!macro QelPictureFile BMP
  !insertmacro _QelPictureFileAt 100 "${BMP}"
!macroend
!define QelPictureFile "!insertmacro QelPictureFile"
!macro QelPictureFile150 BMP
  !insertmacro _QelPictureFileAt 150 "${BMP}"
!macroend
!define QelPictureFile150 "!insertmacro QelPictureFile150"
!macro QelPictureFile200 BMP
  !insertmacro _QelPictureFileAt 200 "${BMP}"
!macroend
!define QelPictureFile200 "!insertmacro QelPictureFile200"

; The window's DPI, or the screen's where the system has no per-window DPI. $QelOut: the DPI.
Function QelWindowDpi
  Push $0
  System::Call 'user32::GetDpiForWindow(p $HWNDPARENT) i .r0'
  ${If} $0 == "error"
  ${OrIf} $0 <= 0
    System::Call 'user32::GetDC(p 0) p .r0'
    System::Call 'gdi32::GetDeviceCaps(p r0, i 88) i .s'  ; LOGPIXELSX
    System::Call 'user32::ReleaseDC(p 0, p r0)'
    Pop $0
  ${EndIf}
  StrCpy $QelOut $0
  Pop $0
FunctionEnd

; Loads the band picture of the size nearest the window's DPI into $QelPicture, its size in
; percent into $QelPictureScale. 0 when none was carried.
Function QelLoadPicture
  Push $0 ; DPI
  Push $1 ; percent tried
  Push $2 ; its distance from the DPI
  Push $3 ; best distance
  Call QelWindowDpi
  StrCpy $0 $QelOut
  StrCpy $QelPictureScale 0
  StrCpy $3 -1
  ${ForEach} $1 100 200 + 50
    ${If} ${FileExists} "$PLUGINSDIR\qelband$1.bmp"
      IntOp $2 $1 * 96
      IntOp $2 $2 / 100
      IntOp $2 $2 - $0
      ${IfThen} $2 < 0 ${|} IntOp $2 0 - $2 ${|}
      ; Sizes are tried from the smallest, so a larger one as near wins.
      ${If} $3 < 0
      ${OrIf} $2 <= $3
        StrCpy $3 $2
        StrCpy $QelPictureScale $1
      ${EndIf}
    ${EndIf}
  ${Next}
  StrCpy $QelPicture 0
  ${If} $QelPictureScale != 0
    System::Call 'user32::LoadImageW(p 0, w "$PLUGINSDIR\qelband$QelPictureScale.bmp", i 0, i 0, i 0, i 0x2010) p .s'
    Pop $QelPicture
    ${If} $QelPicture == "error"
      StrCpy $QelPicture 0
    ${EndIf}
  ${EndIf}
  ${If} $QelPicture == 0
    StrCpy $QelPictureScale 100
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; $QelOut: the width in dialog units of the picture box, so that the picture is drawn as many
; pixels wide as its 100 % size at the window's DPI (its own size when that is the DPI it was
; drawn for). 66 when there is no picture.
Function QelPictureWidth
  Push $0
  Push $1
  Push $2
  StrCpy $QelOut 66
  ${If} $QelPicture != 0
    ; BITMAP: bmType, bmWidth, ...; 24 bytes, 32 in a 64-bit installer.
    IntOp $1 ${NSIS_PTR_SIZE} * 2
    IntOp $1 $1 + 16
    System::Alloc 32
    Pop $0
    System::Call 'gdi32::GetObjectW(p $QelPicture, i r1, p r0) i .r1'
    System::Call '*$0(i, i .r2)'
    System::Free $0
    ${If} $1 > 0
    ${AndIf} $2 > 0
      ; Pixels wanted: the 100 % width scaled to the DPI.
      IntOp $2 $2 * 100
      IntOp $2 $2 / $QelPictureScale
      Call QelWindowDpi
      System::Call 'kernel32::MulDiv(i r2, i $QelOut, i 96) i .r2'
      ; Dialog units: MapDialogRect makes x units into MulDiv(x, base, 4) pixels; 400 units
      ; give 100 times the base unit.
      System::Call '*(i 400, i 0, i 0, i 0) p .r0'
      System::Call 'user32::MapDialogRect(p $HWNDPARENT, p r0)'
      System::Call '*$0(i .r1)'
      System::Free $0
      ${If} $1 > 0
        IntOp $2 $2 * 400
        IntOp $0 $1 / 2
        IntOp $2 $2 + $0
        IntOp $QelOut $2 / $1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; High contrast as the user has it now. $QelOut: 1 when it is on, else 0.
Function QelHighContrastOn
  Push $0
  Push $1
  Push $2
  ; HIGHCONTRASTW: cbSize, dwFlags, lpszDefaultScheme.
  IntOp $1 ${NSIS_PTR_SIZE} + 8
  System::Call '*(i r1, i 0, p 0) p .r0'
  System::Call 'user32::SystemParametersInfoW(i 0x42, i r1, p r0, i 0) i .r2'  ; SPI_GETHIGHCONTRAST
  System::Call '*$0(i, i .r1)'
  System::Free $0
  StrCpy $QelOut 0
  ${If} $2 != 0
  ${AndIf} $2 != "error"
    IntOp $QelOut $1 & 1  ; HCF_HIGHCONTRASTON
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; $QelIn, $QelIn2: two colours (0x00BBGGRR); on the stack: a step from 0 to 255. $QelOut: the
; colour step/255 of the way from the first to the second, channel by channel (as qelskin
; blends its own colours).
Function QelBlendColor
  Exch $0 ; step
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $4 0
  ${ForEach} $1 0 16 + 8
    IntOp $2 $QelIn >> $1
    IntOp $2 $2 & 0xFF
    IntOp $3 $QelIn2 >> $1
    IntOp $3 $3 & 0xFF
    IntOp $3 $3 - $2
    IntOp $3 $3 * $0
    IntOp $3 $3 / 255
    IntOp $2 $2 + $3
    IntOp $2 $2 & 0xFF
    IntOp $2 $2 << $1
    IntOp $4 $4 | $2
  ${Next}
  StrCpy $QelOut $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; _QelCheckPicture FILE, when the installer is built: stops the build with qelpack's one line when
; FILE is not a band picture the skin can use (`qelpack picture --check`), since such a picture
; would only turn the skin off when the installer runs. The packer is QEL_PACKER (a define, or
; the environment variable of that name), else the kit's own: qelpack.exe in the ${QelFiles}
; folder when makensis runs on Windows, /usr/bin/qelpack (the qel-kit package) elsewhere.
!macro _QelCheckPicture FILE
  !ifndef _QEL_PACKER
    !ifdef QEL_PACKER
      !define _QEL_PACKER "${QEL_PACKER}"
    !else
      !define _QEL_PACKER_ENV "$%QEL_PACKER%"
      ; An unset variable stays as its own name.
      !searchparse /noerrors "${_QEL_PACKER_ENV}" "%QEL_PACKER" _QEL_PACKER_UNSET
      !ifndef _QEL_PACKER_UNSET
        !define _QEL_PACKER "${_QEL_PACKER_ENV}"
      !else
        !ifdef NSIS_WIN32_MAKENSIS
          !define _QEL_PACKER "${_QEL_BIN}\qelpack.exe"
        !else
          !define _QEL_PACKER "/usr/bin/qelpack"
        !endif
        !if ! /FileExists "${_QEL_PACKER}"
          !error "qel.nsh: the band picture is checked with qelpack when the installer is built, and ${_QEL_PACKER} does not exist: install the qel-kit package (Linux), give QelFiles the kit's bin folder (Windows), or define QEL_PACKER=<path of qelpack>"
        !endif
        !undef _QEL_PACKER_UNSET
      !endif
      !undef _QEL_PACKER_ENV
    !endif
  !endif
  !tempfile _QEL_PICTURE_REPORT
  !system '"${_QEL_PACKER}" picture --check "${FILE}" >"${_QEL_PICTURE_REPORT}" 2>&1' _QEL_PICTURE_RESULT
  !if ${_QEL_PICTURE_RESULT} <> 0
    !define /file _QEL_PICTURE_WHY "${_QEL_PICTURE_REPORT}"
    !delfile "${_QEL_PICTURE_REPORT}"
    !searchparse /noerrors "${_QEL_PICTURE_WHY}" "qelpack: refused: " _QEL_PICTURE_RULE
    !ifdef _QEL_PICTURE_RULE
      !error "qel.nsh: ${_QEL_PICTURE_RULE}"
    !else
      !error "qel.nsh: the band picture ${FILE} could not be checked: ${_QEL_PICTURE_WHY}"
    !endif
  !endif
  !delfile "${_QEL_PICTURE_REPORT}"
  !undef _QEL_PICTURE_REPORT
  !undef _QEL_PICTURE_RESULT
!macroend

; ${QelSkinBegin}, in .onGUIInit: loads the band picture, colours the caption, makes the frame
; a fixed tool window, makes the font for the window's DPI, skins the main window as a page
; (the buttons find their page through their parents) and its buttons 1, 2 and 3, and hides the
; branding text that NSIS would draw across the foot. Under high contrast only the frame is
; changed (the failure page's close button closes it) and every window keeps the system's look.
!macro QelSkinBegin
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  StrCpy $QelSkinLoaded 1
  StrCpy $QelSkinFault ""
  StrCpy $QelMainCard 0
  Call QelHighContrastOn
  StrCpy $QelSkinOff $QelOut
  ${If} $QelSkinOff == 1
    System::Call '$PLUGINSDIR\qelskin.dll::StyleWindowFrame(p $HWNDPARENT) i .s'
    !insertmacro _QelSkinCheck StyleWindowFrame
  ${Else}
    Call QelLoadPicture
    ${If} $QelPicture == 0
      StrCpy $QelSkinFault "qel.nsh: the band picture cannot be loaded (QelPictureFile was not called in .onInit)"
    ${EndIf}
    Call QelPictureWidth
    StrCpy $QelPictureDu $QelOut
    Call QelWidenWindow
    System::Call '$PLUGINSDIR\qelskin.dll::StyleWindow(p $HWNDPARENT, i ${QEL_COLOR_BAND}, i 0x00FFFFFF) i .s'
    !insertmacro _QelSkinCheck StyleWindow
    System::Call '$PLUGINSDIR\qelskin.dll::StyleWindowFrame(p $HWNDPARENT) i .s'
    !insertmacro _QelSkinCheck StyleWindowFrame
    System::Call '$PLUGINSDIR\qelskin.dll::FontForDpi(p $HWNDPARENT, p 0, w "${QEL_FONT_FACE}", i ${QEL_FONT_POINTS}, i 400) p .s'
    Pop $QelFont
    ${IfThen} $QelFont == 0 ${|} StrCpy $QelSkinFault "qel.nsh: FontForDpi failed" ${|}
    !insertmacro QelSkinPage $HWNDPARENT
    !insertmacro QelSkinButtons $HWNDPARENT "1 2 3"
    Call QelClearBandOfMainWindow
    GetDlgItem $QelOut $HWNDPARENT 1028
    ShowWindow $QelOut ${SW_HIDE}
    GetDlgItem $QelOut $HWNDPARENT 1256
    ShowWindow $QelOut ${SW_HIDE}
    GetDlgItem $QelOut $HWNDPARENT 1035
    ShowWindow $QelOut ${SW_HIDE}
  ${EndIf}
  ${EndIf}
!macroend
!define QelSkinBegin "!insertmacro QelSkinBegin"

; Widens the main window by QEL_WIDEN_DU dialog units, keeping it centred: children in its
; right half (Next, Back) move right, children that reach into the right half from the left
; (the page area 1018, the line above the buttons) grow. NSIS places every page on 1018.
Function QelWidenWindow
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  System::Call '*(i ${QEL_WIDEN_DU}, i 0, i 0, i 0) p .r0'
  System::Call 'user32::MapDialogRect(p $HWNDPARENT, p r0)'
  System::Call '*$0(i .r1, i, i, i)'
  System::Free $0
  System::Call '*(i, i, i, i) p .r0'
  System::Call 'user32::GetClientRect(p $HWNDPARENT, p r0)'
  System::Call '*$0(i, i, i .r2, i)'
  System::Free $0
  IntOp $2 $2 / 2
  StrCpy $0 0
  ${Do}
    FindWindow $0 "" "" $HWNDPARENT $0
    ${IfThen} $0 == 0 ${|} ${Break} ${|}
    StrCpy $QelIn $0
    Call QelChildRect
    IntOp $3 $QelRectR - $QelRectL
    IntOp $4 $QelRectB - $QelRectT
    ${If} $QelRectL >= $2
      IntOp $QelRectL $QelRectL + $1
      System::Call 'user32::SetWindowPos(p r0, p 0, i $QelRectL, i $QelRectT, i r3, i r4, i 0x14)'
    ${ElseIf} $QelRectR > $2
      IntOp $3 $3 + $1
      System::Call 'user32::SetWindowPos(p r0, p 0, i $QelRectL, i $QelRectT, i r3, i r4, i 0x14)'
    ${EndIf}
  ${Loop}
  System::Call '*(i, i, i, i) p .r0'
  System::Call 'user32::GetWindowRect(p $HWNDPARENT, p r0)'
  System::Call '*$0(i .r2, i .r3, i .r4, i)'
  System::Free $0
  IntOp $4 $4 - $2
  IntOp $4 $4 + $1
  IntOp $0 $1 / 2
  IntOp $2 $2 - $0
  System::Call '*(i, i, i, i) p .r0'
  System::Call 'user32::GetWindowRect(p $HWNDPARENT, p r0)'
  System::Call '*$0(i, i, i, i .r1)'
  System::Free $0
  IntOp $1 $1 - $3
  System::Call 'user32::SetWindowPos(p $HWNDPARENT, p 0, i r2, i r3, i r4, i r1, i 0x14)'
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; The line NSIS draws above its buttons (an etched static) starts right of the band.
Function QelClearBandOfMainWindow
  Push $0
  Push $1
  Push $2
  System::Call '*(i ${QEL_BAND_DU}, i 0, i 10, i 0) p .r0'
  System::Call 'user32::MapDialogRect(p $HWNDPARENT, p r0)'
  System::Call '*$0(i .r1, i, i .r2, i)'
  System::Free $0
  IntOp $1 $1 + $2
  StrCpy $0 0
  ${Do}
    FindWindow $0 "Static" "" $HWNDPARENT $0
    ${IfThen} $0 == 0 ${|} ${Break} ${|}
    System::Call 'user32::GetWindowLongW(p r0, i -16) i .r2'
    IntOp $2 $2 & 0x1F
    ${If} $2 = 0x10
      StrCpy $QelIn $0
      Call QelChildRect
      ${If} $QelRectL < $1
      ${AndIf} $QelRectR > $1
        IntOp $2 $QelRectR - $1
        IntOp $QelRectB $QelRectB - $QelRectT
        System::Call 'user32::SetWindowPos(p r0, p 0, i r1, i $QelRectT, i r2, i $QelRectB, i 0x14)'
      ${EndIf}
    ${EndIf}
  ${Loop}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Sends the skin's font to every child of $QelIn.
Function QelApplyFont
  Push $0
  StrCpy $0 0
  ${Do}
    FindWindow $0 "" "" $QelIn $0
    ${IfThen} $0 == 0 ${|} ${Break} ${|}
    SendMessage $0 ${WM_SETFONT} $QelFont 1
  ${Loop}
  Pop $0
FunctionEnd

; $QelIn: a page (the main window or a page inside it). The band and the picture box are given
; in dialog units of the main window from its left edge; a page inside it gets them shifted by
; its own offset, so the band lines up across the main window and the page. The main window's
; background starts from the prompt card's page colour while $QelMainCard is 1, so that it
; meets a page showing the card without a seam. $QelIn2: 1 to give the page's children the
; skin's font and move them off the band too, 0 for the background alone.
Function QelStylePage
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  Push $9
  StrCpy $7 $QelIn2
  StrCpy $0 $QelIn
  StrCpy $3 0 ; offset x, dialog units
  StrCpy $4 0 ; offset y
  StrCpy $8 ${QEL_BAND_DU} ; the page's band width, dialog units
  ${If} $0 != $HWNDPARENT
    ; NSIS made its own pages at the size the page area had before ${QelSkinBegin} widened
    ; it; nsDialogs pages are made at the new size. Either way the page fills the area.
    GetDlgItem $QelIn $HWNDPARENT 1018
    ${If} $QelIn != 0
      Call QelChildRect
      IntOp $1 $QelRectR - $QelRectL
      IntOp $2 $QelRectB - $QelRectT
      System::Call 'user32::SetWindowPos(p r0, p 0, i $QelRectL, i $QelRectT, i r1, i r2, i 0x14)'
    ${EndIf}
    System::Call '*(i 0, i 0) p .r1'
    System::Call 'user32::MapWindowPoints(p r0, p $HWNDPARENT, p r1, i 1)'
    System::Call '*$1(i .r5, i .r6)'
    System::Free $1
    System::Call '*(i 400, i 800, i 0, i 0) p .r1'
    System::Call 'user32::MapDialogRect(p $HWNDPARENT, p r1)'
    System::Call '*$1(i .r2, i .r1)'
    System::Free $1
    ${If} $2 > 0
    ${AndIf} $1 > 0
      IntOp $3 $5 * 400
      IntOp $3 $3 / $2
      IntOp $4 $6 * 800
      IntOp $4 $4 / $1
      ; The page's band ends where the main window's does. Dialog units come in steps of
      ; more than a pixel, so the width is rounded from the pixels left of the main window's
      ; band edge, and the page moved sideways by the pixel or so the rounding leaves.
      System::Call 'kernel32::MulDiv(i ${QEL_BAND_DU}, i r2, i 400) i .r9'
      IntOp $8 $9 - $5
      IntOp $8 $8 * 800
      IntOp $8 $8 + $2
      IntOp $3 $2 * 2
      IntOp $8 $8 / $3
      ${IfThen} $8 < 1 ${|} StrCpy $8 1 ${|}
      System::Call 'kernel32::MulDiv(i r8, i r2, i 400) i .r3'
      IntOp $9 $9 - $3
      ${If} $9 != $5
        System::Call 'user32::SetWindowPos(p r0, p 0, i r9, i r6, i 0, i 0, i 0x15)'
        StrCpy $5 $9
      ${EndIf}
      IntOp $3 $5 * 400
      IntOp $3 $3 / $2
    ${EndIf}
  ${EndIf}
  StrCpy $1 $8
  IntOp $2 12 - $3
  ${IfThen} $2 < 0 ${|} StrCpy $2 0 ${|}
  IntOp $5 16 - $4
  ${IfThen} $5 < 0 ${|} StrCpy $5 0 ${|}
  StrCpy $6 ${QEL_COLOR_BASE}
  ${If} $0 == $HWNDPARENT
  ${AndIf} $QelMainCard == 1
    ; What qelskin paints behind a prompt card: 18/255 of the way towards the band colour.
    StrCpy $QelIn ${QEL_COLOR_BASE}
    StrCpy $QelIn2 ${QEL_COLOR_BAND}
    Push 18
    Call QelBlendColor
    StrCpy $6 $QelOut
  ${EndIf}
  System::Call '$PLUGINSDIR\qelskin.dll::StylePage(p r0, p $QelPicture, i r6, i ${QEL_COLOR_BAND}, i ${QEL_COLOR_PICTURE}, i r1, i r2, i r5, i $QelPictureDu, i 66, i 255) i .s'
  !insertmacro _QelSkinCheck StylePage
  ${If} $7 == 1
    ${If} $QelFont != 0
      StrCpy $QelIn $0
      Call QelApplyFont
    ${EndIf}
    ${If} $0 != $HWNDPARENT
      StrCpy $QelIn $0
      Call QelClearBand
    ${EndIf}
  ${EndIf}
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; $QelIn: a page inside the main window. NSIS's pages (and nsDialogs pages laid out from the
; page's left edge) put their controls across the band: the icon (a static with SS_ICON) is
; hidden, and every other child is moved into the part right of the band, from QEL_BAND_DU + 10
; dialog units of the main window to 10 units short of the page's right edge, squeezed in
; proportion so that what lies inside a group box stays inside it. A page whose children all
; lie right of the band already is left as it is.
Function QelClearBand
  Push $0 ; page
  Push $1 ; child
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6 ; leftmost child edge
  Push $7 ; rightmost child edge
  Push $8 ; target left
  Push $9 ; target right
  StrCpy $0 $QelIn
  ; Target span in the page's pixels.
  System::Call '*(i ${QEL_BAND_DU}, i 0, i 10, i 0) p .r1'
  System::Call 'user32::MapDialogRect(p $HWNDPARENT, p r1)'
  System::Call '*$1(i .r8, i, i .r2, i)'
  System::Free $1
  System::Call '*(i 0, i 0) p .r1'
  System::Call 'user32::MapWindowPoints(p r0, p $HWNDPARENT, p r1, i 1)'
  System::Call '*$1(i .r3, i)'
  System::Free $1
  IntOp $8 $8 + $2
  IntOp $8 $8 - $3
  System::Call '*(i, i, i, i) p .r1'
  System::Call 'user32::GetClientRect(p r0, p r1)'
  System::Call '*$1(i, i, i .r9, i)'
  System::Free $1
  IntOp $9 $9 - $2
  ; First pass: hide icons, find the children's extent.
  StrCpy $6 ""
  StrCpy $7 ""
  StrCpy $1 0
  ${Do}
    FindWindow $1 "" "" $0 $1
    ${IfThen} $1 == 0 ${|} ${Break} ${|}
    System::Call 'user32::GetClassNameW(p r1, w .r2, i 64)'
    System::Call 'user32::GetWindowLongW(p r1, i -16) i .r3'
    IntOp $3 $3 & 0x1F
    ${If} $2 == "Static"
    ${AndIf} $3 == 3
      ShowWindow $1 ${SW_HIDE}
      ${Continue}
    ${EndIf}
    StrCpy $QelIn $1
    Call QelChildRect
    StrCpy $2 $QelRectL
    StrCpy $4 $QelRectR
    ${If} $6 == ""
    ${OrIf} $2 < $6
      StrCpy $6 $2
    ${EndIf}
    ${If} $7 == ""
    ${OrIf} $4 > $7
      StrCpy $7 $4
    ${EndIf}
  ${Loop}
  ${If} $6 != ""
  ${AndIf} $6 < $8
  ${AndIf} $7 > $6
  ${AndIf} $9 > $8
    ; Second pass: x' = target left + (x - leftmost) * (target width) / (extent width).
    IntOp $9 $9 - $8 ; target width
    IntOp $7 $7 - $6 ; extent width
    StrCpy $1 0
    ${Do}
      FindWindow $1 "" "" $0 $1
      ${IfThen} $1 == 0 ${|} ${Break} ${|}
      System::Call 'user32::GetWindowLongW(p r1, i -16) i .r3'
      IntOp $3 $3 & 0x1F
      System::Call 'user32::GetClassNameW(p r1, w .r2, i 64)'
      ${If} $2 == "Static"
      ${AndIf} $3 == 3
        ${Continue}
      ${EndIf}
      StrCpy $QelIn $1
      Call QelChildRect
      StrCpy $2 $QelRectL
      StrCpy $3 $QelRectT
      StrCpy $4 $QelRectR
      StrCpy $5 $QelRectB
      IntOp $2 $2 - $6
      IntOp $2 $2 * $9
      IntOp $2 $2 / $7
      IntOp $2 $2 + $8
      IntOp $4 $4 - $6
      IntOp $4 $4 * $9
      IntOp $4 $4 / $7
      IntOp $4 $4 + $8
      IntOp $4 $4 - $2
      IntOp $5 $5 - $3
      System::Call 'user32::SetWindowPos(p r1, p 0, i r2, i r3, i r4, i r5, i 0x14)'
    ${Loop}
  ${EndIf}
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; $QelIn: a child window. $QelRectL, $QelRectT, $QelRectR, $QelRectB: its place in its
; parent's client coordinates.
Function QelChildRect
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  System::Call '*(i, i, i, i) p .r0'
  System::Call 'user32::GetWindowRect(p $QelIn, p r0)'
  System::Call 'user32::GetParent(p $QelIn) p .r1'
  System::Call 'user32::MapWindowPoints(p 0, p r1, p r0, i 2)'
  System::Call '*$0(i .r1, i .r2, i .r3, i .r4)'
  System::Free $0
  StrCpy $QelRectL $1
  StrCpy $QelRectT $2
  StrCpy $QelRectR $3
  StrCpy $QelRectB $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; ${QelSkinPage} PAGE: the page's background, band, picture and waves, and the font on its
; children. Call it in the page's show callback (and QelSkinBegin does it for the main window).
!macro QelSkinPage PAGE
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  ${AndIf} $QelSkinOff != 1
  StrCpy $QelSkinLoaded 1
  Push ${PAGE}
  Call QelSkinPageOf
  ${EndIf}
!macroend
!define QelSkinPage "!insertmacro QelSkinPage"

; Stack in: a page. Skins it; a page shown after one with a prompt card gives the main window
; its own background back.
Function QelSkinPageOf
  Exch $0
  ${If} $0 != $HWNDPARENT
  ${AndIf} $QelMainCard == 1
    StrCpy $QelMainCard 0
    StrCpy $QelIn $HWNDPARENT
    StrCpy $QelIn2 0
    Call QelStylePage
  ${EndIf}
  StrCpy $QelIn $0
  StrCpy $QelIn2 1
  Call QelStylePage
  Pop $0
FunctionEnd

; ${QelSkinButtons} WINDOW "ID ID ...": flat rounded push buttons (ids separated by spaces).
!macro QelSkinButtons WINDOW IDS
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  ${AndIf} $QelSkinOff != 1
  StrCpy $QelSkinLoaded 1
  Push "${IDS}"
  Push ${WINDOW}
  Call QelStyleButtons
  ${EndIf}
!macroend
!define QelSkinButtons "!insertmacro QelSkinButtons"

Function QelStyleButtons
  Exch $0 ; window
  Exch
  Exch $1 ; ids
  Push $2
  Push $3
  ${Do}
    ; The next id: text up to the first space.
    StrCpy $2 0
    ${Do}
      StrCpy $3 $1 1 $2
      ${IfThen} $3 == "" ${|} ${Break} ${|}
      ${IfThen} $3 == " " ${|} ${Break} ${|}
      IntOp $2 $2 + 1
    ${Loop}
    StrCpy $3 $1 $2
    IntOp $2 $2 + 1
    StrCpy $1 $1 "" $2
    ${If} $3 != ""
      GetDlgItem $3 $0 $3
      Push $3
      Call QelStyleButton
    ${EndIf}
  ${LoopUntil} $1 == ""
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; ${QelSkinButton} BUTTON: one flat rounded push button, given by its window.
!macro QelSkinButton BUTTON
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  ${AndIf} $QelSkinOff != 1
  StrCpy $QelSkinLoaded 1
  Push ${BUTTON}
  Call QelStyleButton
  ${EndIf}
!macroend
!define QelSkinButton "!insertmacro QelSkinButton"

; Stack in: a button window. A button on the page is filled in the band colour; one that lies
; on the band (NSIS's Cancel) is filled in a lighter shade of it, so that it still reads as a
; button there, with a still lighter shade when hot or pressed.
Function QelStyleButton
  Exch $3
  Push $4
  Push $5
  Push $6
  Push $7
  ${If} $3 == 0
    ${IfThen} $QelSkinFault == "" ${|} StrCpy $QelSkinFault "qel.nsh: StyleButton: no such button" ${|}
  ${Else}
    ; The button's right edge in the main window, against the band's.
    System::Call '*(i, i, i, i) p .r4'
    System::Call 'user32::GetWindowRect(p r3, p r4)'
    System::Call 'user32::MapWindowPoints(p 0, p $HWNDPARENT, p r4, i 2)'
    System::Call '*$4(i, i, i .r5, i)'
    System::Free $4
    System::Call '*(i ${QEL_BAND_DU}, i 0, i 0, i 0) p .r4'
    System::Call 'user32::MapDialogRect(p $HWNDPARENT, p r4)'
    System::Call '*$4(i .r6)'
    System::Free $4
    ${If} $5 <= $6
      StrCpy $QelIn ${QEL_COLOR_BAND}
      StrCpy $QelIn2 0x00FFFFFF
      Push 56
      Call QelBlendColor
      StrCpy $4 $QelOut   ; fill
      Push 96
      Call QelBlendColor
      StrCpy $5 $QelOut   ; hot or pressed
      Push 24
      Call QelBlendColor
      StrCpy $6 $QelOut   ; disabled
      Push 112
      Call QelBlendColor
      StrCpy $7 $QelOut   ; disabled text
      System::Call '$PLUGINSDIR\qelskin.dll::StyleButton(p r3, i r4, i r5, i 0x00FFFFFF, i r6, i r6, i r7, i 0x0030A0E8, i 1, i 5) i .s'
    ${Else}
      System::Call '$PLUGINSDIR\qelskin.dll::StyleButton(p r3, i ${QEL_COLOR_BAND}, i 0x00965534, i 0x00FFFFFF, i 0x00C8C8C8, i ${QEL_COLOR_BAND}, i 0x00808080, i 0x0030A0E8, i 1, i 5) i .s'
    ${EndIf}
    !insertmacro _QelSkinCheck StyleButton
  ${EndIf}
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
FunctionEnd

; ${QelSkinInput} EDIT: a flat rounded frame around an edit field, its text centred.
!macro QelSkinInput EDIT
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  ${AndIf} $QelSkinOff != 1
  StrCpy $QelSkinLoaded 1
  System::Call '$PLUGINSDIR\qelskin.dll::FontLineHeight(p ${EDIT}, p $QelFont) i .s'
  Pop $QelOut
  System::Call '$PLUGINSDIR\qelskin.dll::StyleInput(p ${EDIT}, i ${QEL_COLOR_BASE}, i 0x00FFFFFF, i 0x00BCB4B0, i ${QEL_COLOR_BAND}, i 4, i $QelOut) i .s'
  !insertmacro _QelSkinCheck StyleInput
  ${EndIf}
!macroend
!define QelSkinInput "!insertmacro QelSkinInput"

; ${QelSkinPrompt} PAGE TITLE BODY NOTE BUTTON1 BUTTON2: the prompt card on a skinned custom
; page; the three texts (1 to 511 characters each) and the two buttons must be its children.
; The main window around the page takes the page's card-mode background while it shows, so the
; two meet without a seam.
!macro QelSkinPrompt PAGE T1 T2 T3 B1 B2
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  ${AndIf} $QelSkinOff != 1
  StrCpy $QelSkinLoaded 1
  System::Call '$PLUGINSDIR\qelskin.dll::StylePrompt(p ${PAGE}, p ${T1}, p ${T2}, p ${T3}, p ${B1}, p ${B2}, i 1, i 8) i .s'
  !insertmacro _QelSkinCheck StylePrompt
  ${If} $QelMainCard != 1
    StrCpy $QelMainCard 1
    StrCpy $QelIn $HWNDPARENT
    StrCpy $QelIn2 0
    Call QelStylePage
  ${EndIf}
  ${EndIf}
!macroend
!define QelSkinPrompt "!insertmacro QelSkinPrompt"

; ${QelSkinProgressPage} PAGE, in the install-files page's show callback: skins the page, hides
; the details list and button for good, freezes the bar for the delivery's percentage, makes the
; status line announce each new text to screen readers, moves the status line and the bar right
; of the band, and names them for ${QelInstall}: $QelStatusControl and $QelBarControl. Under high
; contrast the page keeps NSIS's look; the bar and the status line are still set up.
!macro QelSkinProgressPage PAGE
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  StrCpy $QelSkinLoaded 1
  GetDlgItem $QelBarControl ${PAGE} 1004
  GetDlgItem $QelStatusControl ${PAGE} 1006
  System::Call '$PLUGINSDIR\qelskin.dll::StylePreviewProgress(p $QelBarControl) i .s'
  !insertmacro _QelSkinCheck StylePreviewProgress
  System::Call '$PLUGINSDIR\qelskin.dll::StyleStatusLine(p $QelStatusControl) i .s'
  !insertmacro _QelSkinCheck StyleStatusLine
  ${If} $QelSkinOff != 1
  !insertmacro QelSkinPage ${PAGE}
  System::Call '$PLUGINSDIR\qelskin.dll::HideProgressDetails(p ${PAGE}) i .s'
  !insertmacro _QelSkinCheck HideProgressDetails
  Push ${PAGE}
  Call QelLayoutProgress
  ; NSIS's icon (a static with SS_ICON) would sit on the band.
  StrCpy $QelOut 0
  ${Do}
    FindWindow $QelOut "Static" "" ${PAGE} $QelOut
    ${IfThen} $QelOut == 0 ${|} ${Break} ${|}
    System::Call 'user32::GetWindowLongW(p $QelOut, i -16) i .s'
    Exch $QelIn
    IntOp $QelIn $QelIn & 0x1F
    ${If} $QelIn == 3
      ShowWindow $QelOut ${SW_HIDE}
    ${EndIf}
    Pop $QelIn
  ${Loop}
  ${EndIf}
  ${EndIf}
!macroend
!define QelSkinProgressPage "!insertmacro QelSkinProgressPage"

; Stack in: the progress page. Status line at (band + 10, 60) and bar at (band + 10, 76) dialog
; units, both reaching 10 units short of the right edge.
Function QelLayoutProgress
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  ; $2 left edge, $3 status top, $4 margin, $5 bar top, all in pixels of this dialog.
  System::Call '*(i ${QEL_BAND_DU}, i 60, i 10, i 76) p .r1'
  System::Call 'user32::MapDialogRect(p $HWNDPARENT, p r1)'
  System::Call '*$1(i .r2, i .r3, i .r4, i .r5)'
  System::Free $1
  IntOp $2 $2 + $4
  System::Call '*(i, i, i, i) p .r1'
  System::Call 'user32::GetClientRect(p r0, p r1)'
  System::Call '*$1(i, i, i .r6, i)'
  System::Free $1
  IntOp $6 $6 - $2
  IntOp $6 $6 - $4
  System::Call 'user32::SetWindowPos(p $QelStatusControl, p 0, i r2, i r3, i r6, i 20, i 0x14)'
  System::Call 'user32::SetWindowPos(p $QelBarControl, p 0, i r2, i r5, i r6, i 14, i 0x14)'
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; ${QelSkinFailure} PAGE TEXT, on the UI thread, in the show callback of a custom page (PAGE,
; from nsDialogs::Create) that comes after the progress page: NSIS's buttons hidden for good, one
; close button in the place of Next (the frame closes the installer on it), and the failure
; text right of the band on PAGE. NSIS runs .onInstFailed only when a failed install is being
; closed, too late for this page. The close button has the focus and is the default button
; (Enter closes), Esc closes too (NSIS's hidden Cancel is enabled for it), and the text box is
; labelled with the failure text for screen readers (a hidden static just before it). Under high
; contrast the button and the text keep the system's look and NSIS's font.
!macro QelSkinFailure PAGE TEXT
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  StrCpy $QelSkinLoaded 1
  Push "${TEXT}"
  Push ${PAGE}
  Call QelStyleFailure
  ${EndIf}
!macroend

; Stack in: the page, then the text.
Function QelStyleFailure
  Exch $0 ; page
  Exch
  Exch $1 ; text
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  Push $9
  StrCpy $8 $QelFont
  ${If} $8 == 0
    SendMessage $HWNDPARENT ${WM_GETFONT} 0 0 $8
  ${EndIf}
  System::Call '$PLUGINSDIR\qelskin.dll::CreateFailureClose(p $HWNDPARENT, p r8) p .r2'
  ${If} $2 == 0
  ${OrIf} $2 == "error"
    ${IfThen} $QelSkinFault == "" ${|} StrCpy $QelSkinFault "qel.nsh: CreateFailureClose failed" ${|}
    StrCpy $9 0
  ${Else}
    StrCpy $9 $2
    ; Where Next was: the foot of the main window, clear of the page.
    GetDlgItem $3 $HWNDPARENT 1
    System::Call '*(i, i, i, i) p .r7'
    System::Call 'user32::GetWindowRect(p r3, p r7)'
    System::Call 'user32::MapWindowPoints(p 0, p $HWNDPARENT, p r7, i 2)'
    System::Call '*$7(i .r3, i .r4, i .r5, i .r6)'
    System::Free $7
    IntOp $5 $5 - $3
    IntOp $6 $6 - $4
    System::Call 'user32::SetWindowPos(p r2, p 0, i r3, i r4, i r5, i r6, i 0x14)'
    ${If} $QelSkinOff != 1
      Push $2
      Call QelStyleButton
    ${EndIf}
  ${EndIf}
  ; An edit box is named by the static created just before it.
  System::Call 'user32::CreateWindowExW(i 0, w "STATIC", w r1, i 0x40000080, i 0, i 0, i 0, i 0, p r0, p 0, p 0, p 0) p .r2'
  System::Call '$PLUGINSDIR\qelskin.dll::CreateFailureText(p r0, p r8, w r1) p .r2'
  ${If} $2 == 0
  ${OrIf} $2 == "error"
    ${IfThen} $QelSkinFault == "" ${|} StrCpy $QelSkinFault "qel.nsh: CreateFailureText failed" ${|}
  ${Else}
    ; Right of the band (at the page's margin under high contrast), 40 dialog units down, 60
    ; high, 10 short of the page's right edge.
    StrCpy $3 ${QEL_BAND_DU}
    ${IfThen} $QelSkinOff == 1 ${|} StrCpy $3 0 ${|}
    System::Call '*(i r3, i 40, i 10, i 60) p .r7'
    System::Call 'user32::MapDialogRect(p $HWNDPARENT, p r7)'
    System::Call '*$7(i .r3, i .r4, i .r5, i .r6)'
    System::Free $7
    IntOp $3 $3 + $5
    System::Call '*(i, i, i, i) p .r7'
    System::Call 'user32::GetClientRect(p r0, p r7)'
    System::Call '*$7(i, i, i .r1, i)'
    System::Free $7
    IntOp $1 $1 - $3
    IntOp $1 $1 - $5
    System::Call 'user32::SetWindowPos(p r2, p 0, i r3, i r4, i r1, i r6, i 0x14)'
  ${EndIf}
  ${If} $9 != 0
    SendMessage $HWNDPARENT 0x401 0x7111 0  ; DM_SETDEFID
    SendMessage $HWNDPARENT ${WM_NEXTDLGCTL} $9 1
    GetDlgItem $3 $HWNDPARENT 2
    EnableWindow $3 1
  ${EndIf}
  Pop $9
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!define QelSkinFailure "!insertmacro QelSkinFailure"

; ${QelSkinEnd}, in .onGUIEnd (the main window and every skinned window are gone): deletes the
; font and the picture and unloads qelskin.dll (?u), once.
!macro QelSkinEnd
  ${If} $QelSkinLoaded == 1
    StrCpy $QelSkinLoaded 0
    ${If} $QelFont != 0
      System::Call 'gdi32::DeleteObject(p $QelFont)'
      StrCpy $QelFont 0
    ${EndIf}
    ${If} $QelPicture != 0
      System::Call 'gdi32::DeleteObject(p $QelPicture)'
      StrCpy $QelPicture 0
    ${EndIf}
    System::Call '$PLUGINSDIR\qelskin.dll::FontLineHeight(p 0, p 0) i ?u'
  ${EndIf}
!macroend
!define QelSkinEnd "!insertmacro QelSkinEnd"

!endif ; QEL_NSH_INCLUDED
