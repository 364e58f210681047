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
;                                       a section: the release into $INSTDIR as one transaction
;                                       (delivery into the folder's staging, then placing);
;                                       RESULT 0 installed, 1 cancelled, 2 failed ($QelFailure
;                                       holds the failure line); the record keeps QEL_VERSION
;   ${QelUninstall} STATUS RESULT       the uninstaller's section: removes what the record lists
;   ${QelCancel} RESULT                 .onUserAbort: cancels a running install or uninstall
;                                       (RESULT 1: Abort there so the installer stays until the
;                                       section has closed the jobs), RESULT 0 when nothing runs
;   ${QelSkinBegin} PICTURE_FILE        .onGUIInit: colours, caption, frame, font, band picture
;   ${QelSkinPage} PAGE                 a page's show callback: page background, font
;   ${QelSkinButtons} WINDOW "ID ..."   push buttons of WINDOW by control id
;   ${QelSkinButton} BUTTON             one push button by its window
;   ${QelSkinInput} EDIT                a flat edit frame
;   ${QelSkinPrompt} PAGE T1 T2 T3 B1 B2  the prompt card on a custom page
;   ${QelSkinProgressPage} PAGE         install-files page: details hidden, bar frozen, laid out
;                                       right of the band; sets $QelStatusControl/$QelBarControl
;   ${QelSkinFailure} PAGE TEXT         the failure page: a custom page after the progress page
;   ${QelSkinEnd}                       .onGUIEnd: font and picture freed, qelskin.dll unloaded
;
; Threads: ${QelInstall} and ${QelUninstall} run on the section's thread (they sleep between
; polls); every skin macro runs on the UI thread (.onGUIInit, page show callbacks, .onGUIEnd).
; ${QelCancel} may be called from the UI thread while the section runs.
;
; Unloading: System keeps a DLL loaded until a call carries `?u`. The include makes that call
; once per DLL and job: qelfetch.dll on PayloadClose, qelplace.dll on PlaceClose (one job of each
; runs at a time), qelskin.dll in ${QelSkinEnd}, after the main window is gone. NSIS can then
; delete $PLUGINSDIR at exit.

!ifndef QEL_NSH_INCLUDED
!define QEL_NSH_INCLUDED

!ifndef NSIS_UNICODE
  !error "qel.nsh: add 'Unicode true' to the script: an ANSI installer turns every Chinese text and path into '?'"
!endif

!include LogicLib.nsh
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
Var QelJob            ; the running delivery's handle, 0 when none
Var QelCancelAsked    ; 1 once the user asked to cancel
Var QelStatusControl  ; window for the status text (0: none)
Var QelBarControl     ; frozen progress bar for the percentage (0: none)
Var QelSkinLoaded     ; 1 once qelskin.dll has been called
Var QelFont
Var QelPicture
Var QelRectL          ; a window's place, from QelChildRect
Var QelRectT
Var QelRectR
Var QelRectB

; ---------------------------------------------------------------------------------------------
; ${QelFiles} BIN_FOLDER: extracts qelfetch.dll and qelskin.dll from BIN_FOLDER (on the build
; machine) into $PLUGINSDIR. Call it in .onInit. The build stops when either DLL is missing.
!macro QelFiles BIN
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
; installs the release of MANIFEST into $INSTDIR. A placement job takes the folder and checks
; every Name; the delivery goes into the work directory it hands out (inside $INSTDIR's staging,
; so the free-space test covers the install volume); then the files are placed. PACKAGE is the
; placed package, or "" to download it (the manifest's Url) into the staging folder too. The
; text goes into window STATUS and the percentage into the frozen bar BAR (0 for none): the
; delivery fills 90 %, placing the rest. With a window, a placing that fails (a file in use)
; asks Retry/Cancel first. The record keeps QEL_VERSION (define it before the !include).
; RESULT: 0 installed, 1 cancelled (by ${QelCancel}), 2 failed; $QelFailure then holds the
; failure line (also in the details). After 1 or 2 $INSTDIR is as it was.
!ifndef QEL_VERSION
  !define QEL_VERSION ""
!endif
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
  Push $0 ; manifest
  Push $1 ; package
  Push $2 ; work directory
  Push $3 ; status text
  Push $4 ; result
  Push $5 ; delivery job
  Push $6 ; phase
  Push $7 ; percent
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
  ${EndIf}

  ; The folder: locked, a killed run's work finished, staging made.
  StrCpy $9 $INSTDIR
  StrCpy $8 "${QEL_VERSION}"
  System::Call "$PLUGINSDIR\qelplace.dll::PlaceStart(w r9, w r8) p .r9"
  ${If} $9 == "error"
    StrCpy $QelFailure "qel.nsh: qelplace.dll cannot be loaded or lacks PlaceStart (a DLL for another processor?)"
    Goto qel_install_end
  ${EndIf}
  ${If} $9 == 0
    StrCpy $QelFailure "安装文件夹路径无效：$INSTDIR"
    Goto qel_install_end
  ${EndIf}
  StrCpy $QelPlace $9
  ; The loops use the include's own variables only: .onUserAbort runs on the UI thread
  ; meanwhile, and NSIS's registers are shared by both threads.
  StrCpy $QelRound 0
  ${Do}
    ${If} $QelCancelAsked == 1
      System::Call "$PLUGINSDIR\qelplace.dll::PlaceCancel(p $QelPlace) i .s"
      Pop $QelCall
    ${EndIf}
    System::Call "$PLUGINSDIR\qelplace.dll::PlacePoll(p $QelPlace, *i .s, *i .s, w .s, i ${NSIS_MAX_STRLEN}) i .s"
    Pop $QelCall
    Pop $QelPhase
    Pop $QelPercent
    Pop $QelText
    ${If} $QelStatusControl != 0
      SendMessage $QelStatusControl ${WM_SETTEXT} 0 "STR:$QelText"
    ${EndIf}
    ${IfThen} $QelPhase >= 2 ${|} ${Break} ${|}
    !insertmacro _QelPause
  ${Loop}
  ${If} $QelPhase != 2
    StrCpy $QelFailure $QelText
    ${IfThen} $QelPhase == ${QEL_PHASE_CANCELLED} ${|} StrCpy $4 1 ${|}
    Goto qel_install_close
  ${EndIf}
  ; The part: its Names are checked here, before anything is fetched.
  System::Call "$PLUGINSDIR\qelplace.dll::PlaceAddPart(p $QelPlace, w r0, w .r2, i ${NSIS_MAX_STRLEN}) i .r8"
  ${If} $8 != 1
    System::Call "$PLUGINSDIR\qelplace.dll::PlacePoll(p $QelPlace, *i .s, *i .s, w .s, i ${NSIS_MAX_STRLEN}) i .s"
    Pop $QelCall
    Pop $QelPhase
    Pop $QelPercent
    Pop $QelFailure
    ${IfThen} $QelPhase != ${QEL_PHASE_FAILED} ${|} StrCpy $QelFailure "qel.nsh: PlaceAddPart refused the manifest path" ${|}
    Goto qel_install_close
  ${EndIf}
  ${IfThen} $1 == "" ${|} StrCpy $1 "$2.cab" ${|}

  ; The delivery, into the work directory.
  System::Call "$PLUGINSDIR\qelfetch.dll::PayloadStart(w r0, w r1, w r2) p .r5"
  ${If} $5 == "error"
    StrCpy $QelFailure "qel.nsh: qelfetch.dll cannot be loaded or lacks PayloadStart (a DLL for another processor?)"
    Goto qel_install_close
  ${EndIf}
  ${If} $5 == 0
    StrCpy $QelFailure "qel.nsh: PayloadStart refused the paths (null or 1024 units and longer)"
    Goto qel_install_close
  ${EndIf}
  StrCpy $QelJob $5
  StrCpy $QelRound 0
  ${Do}
    !insertmacro _QelPause
    ${If} $QelCancelAsked == 1
      System::Call "$PLUGINSDIR\qelfetch.dll::PayloadCancel(p $QelJob) i .s"
      Pop $QelCall
    ${EndIf}
    System::Call "$PLUGINSDIR\qelfetch.dll::PayloadPoll(p $QelJob, *i .s, *i .s, w .s, i ${NSIS_MAX_STRLEN}) i .s"
    Pop $QelCall
    Pop $QelPhase
    Pop $QelPercent
    Pop $QelText
    ${If} $QelCall != 1
      StrCpy $QelText "qel.nsh: PayloadPoll failed ($QelCall)"
      System::Call "$PLUGINSDIR\qelfetch.dll::PayloadCancel(p $QelJob) i .s"
      Pop $QelCall
      StrCpy $QelPhase ${QEL_PHASE_FAILED}
      ${Break}
    ${EndIf}
    ${If} $QelStatusControl != 0
      SendMessage $QelStatusControl ${WM_SETTEXT} 0 "STR:$QelText"
    ${EndIf}
    ${If} $QelBarControl != 0
      IntOp $QelPercent $QelPercent * 9
      IntOp $QelPercent $QelPercent / 10
      SendMessage $QelBarControl ${QEL_WM_PREVIEW_SETPOS} $QelPercent 0
    ${EndIf}
  ${LoopUntil} $QelPhase >= ${QEL_PHASE_READY}
  ${If} $QelPhase != ${QEL_PHASE_READY}
    StrCpy $QelFailure $QelText
    ${IfThen} $QelPhase == ${QEL_PHASE_CANCELLED} ${|} StrCpy $4 1 ${|}
    Goto qel_install_close
  ${EndIf}

  ; Placing: again after Retry while a file is in use (the staged files are given back after a
  ; failed try).
  ${Do}
    System::Call "$PLUGINSDIR\qelplace.dll::PlaceCommit(p $QelPlace) i .s"
    Pop $8
    ${If} $8 != 1
      ${IfThen} $QelFailure == "" ${|} StrCpy $QelFailure "qel.nsh: PlaceCommit refused the job" ${|}
      ${Break}
    ${EndIf}
    StrCpy $QelIn $QelPlace
    StrCpy $QelIn2 90
    ${CallArtificialFunction} QelPlaceWait_
    ${If} $QelOut == ${QEL_PHASE_READY}
      StrCpy $4 0
      StrCpy $QelFailure ""
      ${Break}
    ${EndIf}
    ${If} $QelOut == ${QEL_PHASE_CANCELLED}
      StrCpy $4 1
      ${Break}
    ${EndIf}
    ${If} $QelCancelAsked == 1
      ${Break}
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$QelFailure" /SD IDCANCEL IDRETRY qel_install_retry
    ${Break}
    qel_install_retry:
  ${Loop}

  qel_install_close:
  ; Cancel is NSIS's again (disabled while sections run): from here on the jobs are being
  ; closed, and a Cancel that NSIS took for itself would end the installer under the section.
  ${If} $HWNDPARENT != 0
    GetDlgItem $9 $HWNDPARENT 2
    EnableWindow $9 0
  ${EndIf}
  ; The delivery first: its work directory lies in the placement job's staging. The files
  ; placed are no longer where it made them, which counts as deleted.
  ${If} $QelJob != 0
    System::Call "$PLUGINSDIR\qelfetch.dll::PayloadClose(p $QelJob) i .s ?u"
    StrCpy $QelJob 0
    Pop $8
    ${If} $8 != 1
      DetailPrint "qel.nsh: PayloadClose reported that not every file of the delivery was deleted"
    ${EndIf}
  ${EndIf}
  StrCpy $QelIn $QelPlace
  ${CallArtificialFunction} QelPlaceClose_
  qel_install_end:
  ${If} $4 != 0
    DetailPrint $QelFailure
  ${EndIf}
  StrCpy $QelOut $4
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

; ${QelPictureFile} BMP: carries BMP (an 8-bit picture with a 256-entry colour table, on the
; build machine) in the installer and extracts it for the band. Call it in .onInit after
; ${QelFiles}. The build stops when the file is missing.
!macro QelPictureFile BMP
  !if ! /FileExists "${BMP}"
    !error "qel.nsh: the band picture ${BMP} does not exist"
  !endif
  File "/oname=$PLUGINSDIR\qelband.bmp" "${BMP}"
!macroend
!define QelPictureFile "!insertmacro QelPictureFile"

; ${QelSkinBegin}, in .onGUIInit: loads the band picture, colours the caption, makes the frame
; a fixed tool window, makes the font for the window's DPI, skins the main window as a page
; (the buttons find their page through their parents) and its buttons 1, 2 and 3, and hides the
; branding text that NSIS would draw across the foot.
!macro QelSkinBegin
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  StrCpy $QelSkinLoaded 1
  StrCpy $QelSkinFault ""
  System::Call 'user32::LoadImageW(p 0, w "$PLUGINSDIR\qelband.bmp", i 0, i 0, i 0, i 0x2010) p .s'
  Pop $QelPicture
  ${If} $QelPicture == 0
    StrCpy $QelSkinFault "qel.nsh: the band picture cannot be loaded (QelPictureFile was not called in .onInit)"
  ${EndIf}
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
; its own offset, so the band lines up across the main window and the page.
Function QelStylePage
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  StrCpy $0 $QelIn
  StrCpy $3 0 ; offset x, dialog units
  StrCpy $4 0 ; offset y
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
    ${EndIf}
  ${EndIf}
  IntOp $1 ${QEL_BAND_DU} - $3
  IntOp $2 12 - $3
  ${IfThen} $2 < 0 ${|} StrCpy $2 0 ${|}
  IntOp $5 16 - $4
  ${IfThen} $5 < 0 ${|} StrCpy $5 0 ${|}
  System::Call '$PLUGINSDIR\qelskin.dll::StylePage(p r0, p $QelPicture, i ${QEL_COLOR_BASE}, i ${QEL_COLOR_BAND}, i ${QEL_COLOR_PICTURE}, i r1, i r2, i r5, i 66, i 66, i 255) i .s'
  !insertmacro _QelSkinCheck StylePage
  ${If} $QelFont != 0
    StrCpy $QelIn $0
    Call QelApplyFont
  ${EndIf}
  ${If} $0 != $HWNDPARENT
    StrCpy $QelIn $0
    Call QelClearBand
  ${EndIf}
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
  StrCpy $QelSkinLoaded 1
  StrCpy $QelIn ${PAGE}
  Call QelStylePage
  ${EndIf}
!macroend
!define QelSkinPage "!insertmacro QelSkinPage"

; ${QelSkinButtons} WINDOW "ID ID ...": flat rounded push buttons (ids separated by spaces).
!macro QelSkinButtons WINDOW IDS
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
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
  StrCpy $QelSkinLoaded 1
  Push ${BUTTON}
  Call QelStyleButton
  ${EndIf}
!macroend
!define QelSkinButton "!insertmacro QelSkinButton"

; Stack in: a button window.
Function QelStyleButton
  Exch $3
  ${If} $3 == 0
    ${IfThen} $QelSkinFault == "" ${|} StrCpy $QelSkinFault "qel.nsh: StyleButton: no such button" ${|}
  ${Else}
      System::Call '$PLUGINSDIR\qelskin.dll::StyleButton(p r3, i ${QEL_COLOR_BAND}, i 0x00965534, i 0x00FFFFFF, i 0x00C8C8C8, i ${QEL_COLOR_BAND}, i 0x00808080, i 0x0030A0E8, i 1, i 5) i .s'
      !insertmacro _QelSkinCheck StyleButton
  ${EndIf}
  Pop $3
FunctionEnd

; ${QelSkinInput} EDIT: a flat rounded frame around an edit field, its text centred.
!macro QelSkinInput EDIT
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
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
!macro QelSkinPrompt PAGE T1 T2 T3 B1 B2
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  StrCpy $QelSkinLoaded 1
  System::Call '$PLUGINSDIR\qelskin.dll::StylePrompt(p ${PAGE}, p ${T1}, p ${T2}, p ${T3}, p ${B1}, p ${B2}, i 1, i 8) i .s'
  !insertmacro _QelSkinCheck StylePrompt
  ${EndIf}
!macroend
!define QelSkinPrompt "!insertmacro QelSkinPrompt"

; ${QelSkinProgressPage} PAGE, in the install-files page's show callback: skins the page, hides
; the details list and button for good, freezes the bar for the delivery's percentage, moves the
; status line and the bar right of the band, and names them for ${QelInstall}: $QelStatusControl
; and $QelBarControl.
!macro QelSkinProgressPage PAGE
  ${IfNot} ${Silent}
  ${AndIf} $HWNDPARENT != 0
  StrCpy $QelSkinLoaded 1
  !insertmacro QelSkinPage ${PAGE}
  System::Call '$PLUGINSDIR\qelskin.dll::HideProgressDetails(p ${PAGE}) i .s'
  !insertmacro _QelSkinCheck HideProgressDetails
  GetDlgItem $QelBarControl ${PAGE} 1004
  GetDlgItem $QelStatusControl ${PAGE} 1006
  System::Call '$PLUGINSDIR\qelskin.dll::StylePreviewProgress(p $QelBarControl) i .s'
  !insertmacro _QelSkinCheck StylePreviewProgress
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
; closed, too late for this page.
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
  System::Call '$PLUGINSDIR\qelskin.dll::CreateFailureClose(p $HWNDPARENT, p $QelFont) p .r2'
  ${If} $2 == 0
  ${OrIf} $2 == "error"
    ${IfThen} $QelSkinFault == "" ${|} StrCpy $QelSkinFault "qel.nsh: CreateFailureClose failed" ${|}
  ${Else}
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
    Push $2
    Call QelStyleButton
  ${EndIf}
  System::Call '$PLUGINSDIR\qelskin.dll::CreateFailureText(p r0, p $QelFont, w r1) p .r2'
  ${If} $2 == 0
  ${OrIf} $2 == "error"
    ${IfThen} $QelSkinFault == "" ${|} StrCpy $QelSkinFault "qel.nsh: CreateFailureText failed" ${|}
  ${Else}
    ; Right of the band, 40 dialog units down, 60 high, 10 short of the page's right edge.
    System::Call '*(i ${QEL_BAND_DU}, i 40, i 10, i 60) p .r7'
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
