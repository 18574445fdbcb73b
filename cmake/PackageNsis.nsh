; Quietwire's own steps in the installer and uninstaller that CPack makes (included near the top of its
; script). The program and its service are ended before their files are replaced or removed, the
; service the program registered goes with it, and settings.ini stays unless the user asks for it to
; go: in the uninstaller's own page, or with /REMOVESETTINGS on its command line (for /S).

; A 64-bit installer for a 64-bit program: Program Files and the registry as the program sees them,
; and no 32-bit Windows layer needed to run it.
Target amd64-unicode

!include LogicLib.nsh
!include nsDialogs.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define QW_SERVICE "Quietwire"
; Every user's log-on starts the tray copy.
!define QW_RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; Where the program keeps whether it registered the service (its "General" section, value "Installed").
!define QW_SERVICE_STORE "SOFTWARE\Quietwire"
; The program's source in the Application event log: Event Viewer takes the entries' texts from the
; message table in quietwire.exe. 7: errors, warnings and information.
!define QW_EVENT_SOURCE "SYSTEM\CurrentControlSet\Services\EventLog\Application\Quietwire"
!define QW_SC_MANAGER_CONNECT 0x0001
!define QW_SERVICE_START 0x0010
; SERVICE_QUERY_STATUS | SERVICE_STOP | DELETE
!define QW_SERVICE_STOP_DELETE 0x10024
!define QW_SERVICE_CONTROL_STOP 1
!define QW_SERVICE_STOPPED 1
; How long the service and a copy of the program are waited for to end, in steps of 200 ms: 30 s and 10 s.
!define QW_SERVICE_WAIT_STEPS 150
!define QW_PROGRAM_WAIT_STEPS 50

Var QwServiceWasRunning
Var QwRemoveSettings
Var QwRemoveSettingsBox

!macro QW_PROGRAM_FUNCTIONS un
; Stops the service if it runs, and removes its registration when "delete" is on the stack. Sets
; $QwServiceWasRunning to 1 if it was running.
Function ${un}QwStopService
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  StrCpy $QwServiceWasRunning 0
  System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i ${QW_SC_MANAGER_CONNECT}) p.R1'
  ${If} $R1 P<> 0
    System::Call 'advapi32::OpenServiceW(p R1, w "${QW_SERVICE}", i ${QW_SERVICE_STOP_DELETE}) p.R2'
    ${If} $R2 P<> 0
      System::Call '*(i, i, i, i, i, i, i) p.R3' ; SERVICE_STATUS
      System::Call 'advapi32::QueryServiceStatus(p R2, p R3) i.R4'
      ${If} $R4 <> 0
        System::Call '*$R3(i, i .R4)'
        ${If} $R4 <> ${QW_SERVICE_STOPPED}
          StrCpy $QwServiceWasRunning 1
          DetailPrint "Stopping the service ${QW_SERVICE}"
          System::Call 'advapi32::ControlService(p R2, i ${QW_SERVICE_CONTROL_STOP}, p R3) i'
          ${For} $R4 1 ${QW_SERVICE_WAIT_STEPS}
            Sleep 200
            System::Call 'advapi32::QueryServiceStatus(p R2, p R3) i.R5'
            ${IfThen} $R5 = 0 ${|} ${Break} ${|}
            System::Call '*$R3(i, i .R5)'
            ${IfThen} $R5 = ${QW_SERVICE_STOPPED} ${|} ${Break} ${|}
          ${Next}
        ${EndIf}
      ${EndIf}
      System::Free $R3
      ${If} $R0 == "delete"
        DetailPrint "Removing the service ${QW_SERVICE}"
        System::Call 'advapi32::DeleteService(p R2) i.R4'
        ${If} $R4 = 0
          DetailPrint "Could not remove the service ${QW_SERVICE}"
          SetErrorLevel 2 ; so that a silent uninstall says it failed
        ${EndIf}
      ${EndIf}
      System::Call 'advapi32::CloseServiceHandle(p R2)'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p R1)'
  ${EndIf}
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; A copy of the program file on the stack that did not end still holds the file open: it is killed.
Function ${un}QwKillHolding
  Exch $R0
  Push $R1
  ${If} ${FileExists} "$INSTDIR\$R0"
    ClearErrors
    FileOpen $R1 "$INSTDIR\$R0" a
    ${If} ${Errors}
      DetailPrint "Quietwire does not end: killing it"
      nsExec::ExecToLog '"$SYSDIR\taskkill.exe" /F /IM $R0'
      Pop $R1
      Sleep 1000
    ${Else}
      FileClose $R1
    ${EndIf}
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; Ends the copies of the program on this desktop (quietwire.exe and the tray copies) as Windows ends them
; at log-off: WM_ENDSESSION to the main window (the hidden QuietwireForm window with a HIDE button), on
; which a copy saves its settings, takes its icon out of the tray and exits. A copy that does not end so,
; or that runs where this desktop cannot reach it (another user's session), still holds its program file
; open: as a last resort such copies are killed.
Function ${un}QwEndProgram
  Push $0
  Push $1
  Push $2
  ${Do}
    StrCpy $0 0
    ${Do}
      FindWindow $0 "QuietwireForm" "" 0 $0
      ${IfThen} $0 = 0 ${|} ${ExitDo} ${|}
      FindWindow $1 "Button" "HIDE" $0
    ${LoopUntil} $1 <> 0
    ${IfThen} $0 = 0 ${|} ${ExitDo} ${|}
    DetailPrint "Ending Quietwire"
    SendMessage $0 ${WM_ENDSESSION} 1 0 /TIMEOUT=10000
    ${For} $1 1 ${QW_PROGRAM_WAIT_STEPS}
      System::Call 'user32::IsWindow(p r0) i.r2'
      ${IfThen} $2 = 0 ${|} ${Break} ${|}
      Sleep 200
    ${Next}
    ${IfThen} $2 <> 0 ${|} ${ExitDo} ${|} ; it does not end: left to the last resort
  ${Loop}

  Push "quietwire.exe"
  Call ${un}QwKillHolding
  Push "quietwiretray.exe"
  Call ${un}QwKillHolding
  Pop $2
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro QW_PROGRAM_FUNCTIONS ""
!insertmacro QW_PROGRAM_FUNCTIONS "un."

; Before an update replaces the files: the service and the program are stopped; the service starts
; again from the new files.
Function QuietwireStopForUpdate
  Push "keep"
  Call QwStopService
  Call QwEndProgram
FunctionEnd

Function QuietwireRestartService
  ${If} $QwServiceWasRunning = 1
    System::Call 'advapi32::OpenSCManagerW(p 0, p 0, i ${QW_SC_MANAGER_CONNECT}) p.r0'
    System::Call 'advapi32::OpenServiceW(p r0, w "${QW_SERVICE}", i ${QW_SERVICE_START}) p.r1'
    System::Call 'advapi32::StartServiceW(p r1, i 0, p 0) i.r2'
    ${IfThen} $2 = 0 ${|} DetailPrint "Could not start the service ${QW_SERVICE} again" ${|}
    System::Call 'advapi32::CloseServiceHandle(p r1)'
    System::Call 'advapi32::CloseServiceHandle(p r0)'
  ${EndIf}
FunctionEnd

; CPack's template writes NoModify and NoRepair as text; the installed-programs list takes them as
; numbers (REG_DWORD), as Windows documents them. Written over the template's values.
Function QuietwireUninstallEntry
  WriteRegDWORD SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${QW_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\${QW_UNINSTALL_KEY}" "NoRepair" 1
FunctionEnd

Function QuietwireLogOnEntry
  WriteRegStr HKLM "${QW_RUN_KEY}" "Quietwire" '"$INSTDIR\quietwiretray.exe"'
FunctionEnd

Function QuietwireEventSource
  WriteRegExpandStr HKLM "${QW_EVENT_SOURCE}" "EventMessageFile" "$INSTDIR\quietwire.exe"
  WriteRegDWORD HKLM "${QW_EVENT_SOURCE}" "TypesSupported" 7
FunctionEnd

; The uninstaller's first step, before the files go.
Function un.QuietwireRemove
  DeleteRegValue HKLM "${QW_RUN_KEY}" "Quietwire"
  DeleteRegKey HKLM "${QW_EVENT_SOURCE}"
  Push "delete"
  Call un.QwStopService
  ClearErrors
  ReadRegStr $0 HKLM "${QW_SERVICE_STORE}\General" "Installed"
  ${IfNot} ${Errors}
    WriteRegStr HKLM "${QW_SERVICE_STORE}\General" "Installed" "False"
  ${EndIf}
  ; Copies save their settings as they end: before the settings may go.
  Call un.QwEndProgram
  ; The in-line block's filters outlive a program that was killed; with the program gone, nothing else
  ; would lift them.
  nsExec::Exec '"$INSTDIR\quietwirectl.exe" lift-block'
  Pop $0

  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    StrCpy $QwRemoveSettings ${BST_CHECKED}
  ${EndIf}
  ${If} $QwRemoveSettings = ${BST_CHECKED}
    DetailPrint "Removing the settings"
    Delete "$INSTDIR\settings.ini"
    Delete "$INSTDIR\settings.ini.new"
    DeleteRegKey HKLM "${QW_SERVICE_STORE}"
  ${EndIf}
FunctionEnd

UninstPage custom un.QwSettingsPage un.QwSettingsPageLeave

Function un.QwSettingsPage
  !insertmacro MUI_HEADER_TEXT "Settings" "Keep Quietwire's settings or remove them."
  nsDialogs::Create 1018
  Pop $0
  ${IfThen} $0 == error ${|} Abort ${|}
  ${NSD_CreateLabel} 0 0 100% 40u "Quietwire keeps its settings (the administrator password, the hours in which the closed \
ports are open, and the closed ports) in settings.ini in $INSTDIR. Kept, they are used again when \
Quietwire is installed again."
  Pop $0
  ${NSD_CreateCheckbox} 0 48u 100% 12u "&Remove the settings as well"
  Pop $QwRemoveSettingsBox
  ${NSD_SetState} $QwRemoveSettingsBox $QwRemoveSettings
  nsDialogs::Show
FunctionEnd

Function un.QwSettingsPageLeave
  ${NSD_GetState} $QwRemoveSettingsBox $QwRemoveSettings
FunctionEnd

; CPack's own key is Software\<vendor>\Quietwire; it deletes that, and the vendor's key is ours to
; take away once nothing else is in it.
Function un.onUninstSuccess
    SetShellVarContext all
    DeleteRegKey /ifempty HKLM "Software\${QW_VENDOR}"
FunctionEnd
