; Korvane's setup: installs Korvane for the current user, with no elevation,
; into %LOCALAPPDATA%\Programs\Korvane, with a Start-menu and a Send To
; shortcut, the Explorer verb for MPEG audio and WAV files, and an entry
; among the installed programs; its uninstaller removes exactly that.
;
;   makensis -DVERSION=1.0.0.0 -DSTAGE=<folder with Korvane.exe and README.txt>
;            -DOUTFILE=<setup.exe> installer/Korvane.nsi
;
; Silent: setup.exe /S [/D=folder]; "<folder>\Uninstall.exe" /S _?=<folder>.
; Exit codes: 0 done, 1 cancelled, 2 failed (Korvane running, another setup
; running, the folder not writable, the disk full); a failed run leaves the
; earlier installation as it was and nothing of its own behind.

Unicode true
; -DTARGET=amd64-unicode makes the setup of the x86-64 build, for a Windows
; (or a Wine) that runs no 32-bit code.
!ifdef TARGET
  Target ${TARGET}
!endif
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!ifndef VERSION | STAGE | OUTFILE
  !error "define VERSION, STAGE and OUTFILE"
!endif

!define PUBLISHER "The Korvane developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane"
!define ASSOC_KEY "Software\Classes\SystemFileAssociations"
!define VERB_CAPTION "&Convert with Korvane"
!define BROADCAST_CAPTION "Convert to &Broadcast WAVE with Korvane"
!define BROADCAST_LINK "Korvane (Broadcast WAVE).lnk"
; The settings the program keeps for the user (the drop target's Broadcast
; WAVE item and its labels: Category ... Start, End, NextCutID), all in one key
; of its own, which the uninstaller removes whole.
!define SETTINGS_KEY "Software\Korvane"
!define PROGRAM_CLASS "TKORVANE_MAIN"

Name "Korvane"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Korvane"
; Installing again goes where the earlier installation is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Korvane ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Korvane"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Korvane setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "(c) 2026 the Korvane developers"
VIAddVersionKey "Comments" "Installs libmpg123 (GNU LGPL 2.1) as libmpg123.dll and Korvane.exe with libebur128 (MIT licence) for /L"

!define MUI_ICON "../resources/MAINICON.ico"
!define MUI_UNICON "../resources/MAINICON.ico"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Korvane.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Korvane's drop target"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var Pid
Var CreatedDir

; A clear message (none when silent), exit code 2, and the run stops.
!macro Fail text
  MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
  SetErrorLevel 2
  Abort "${text}"
!macroend

; The extensions whose files get the verb.
!macro ForEachExtension macro
  !insertmacro ${macro} ".mp1"
  !insertmacro ${macro} ".mp2"
  !insertmacro ${macro} ".mp3"
  !insertmacro ${macro} ".mpa"
  !insertmacro ${macro} ".wav"
!macroend

!macro WriteVerb ext
  WriteRegStr HKCU "${ASSOC_KEY}\${ext}\shell\Korvane" "" "${VERB_CAPTION}"
  ; Shown for up to 100 chosen files (15 without it). Explorer still starts
  ; one run per file; the runs gather into one box.
  WriteRegStr HKCU "${ASSOC_KEY}\${ext}\shell\Korvane" "MultiSelectModel" "Player"
  WriteRegStr HKCU "${ASSOC_KEY}\${ext}\shell\Korvane\command" "" '"$INSTDIR\Korvane.exe" "%L"'
  ; MPEG audio also gets the verb that makes a Broadcast WAVE.
  !if "${ext}" != ".wav"
    WriteRegStr HKCU "${ASSOC_KEY}\${ext}\shell\KorvaneBroadcast" "" "${BROADCAST_CAPTION}"
    WriteRegStr HKCU "${ASSOC_KEY}\${ext}\shell\KorvaneBroadcast" "MultiSelectModel" "Player"
    WriteRegStr HKCU "${ASSOC_KEY}\${ext}\shell\KorvaneBroadcast\command" "" '"$INSTDIR\Korvane.exe" /B "%L"'
  !endif
!macroend

; Removes a key only when it holds neither subkeys nor values: what another
; program keeps there stays.
!macro DeleteKeyIfEmpty key
  EnumRegKey $R1 HKCU "${key}" 0
  EnumRegValue $R2 HKCU "${key}" 0
  ${If} $R1 == ""
  ${AndIf} $R2 == "" ; also the name of the default value
    ClearErrors
    ReadRegStr $R2 HKCU "${key}" ""
    ${If} ${Errors}
      DeleteRegKey HKCU "${key}"
    ${EndIf}
  ${EndIf}
!macroend

!macro DeleteVerb ext
  DeleteRegKey HKCU "${ASSOC_KEY}\${ext}\shell\Korvane"
  DeleteRegKey HKCU "${ASSOC_KEY}\${ext}\shell\KorvaneBroadcast"
  !insertmacro DeleteKeyIfEmpty "${ASSOC_KEY}\${ext}\shell"
  !insertmacro DeleteKeyIfEmpty "${ASSOC_KEY}\${ext}"
!macroend

; What the installer and the uninstaller share, as functions of each.
!macro SharedFunctions un
  ; Only one setup or uninstaller at a time: the mutex lives as long as the process.
  Function ${un}TakeSetupMutex
    System::Call 'kernel32::CreateMutexW(p 0, i 0, w "Korvane.Setup") p .R0 ?e'
    Pop $R1
    ${If} $R1 = 183 ; ERROR_ALREADY_EXISTS
      MessageBox MB_OK|MB_ICONSTOP "Another Korvane setup or uninstaller is running. Let it finish, then try again." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  FunctionEnd

  ; The drop target's window tells that Korvane runs; its program file cannot
  ; be replaced or removed then.
  Function ${un}RefuseWhileRunning
    retry:
    FindWindow $R0 "${PROGRAM_CLASS}"
    ${If} $R0 <> 0
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Korvane is running. Close it first: choose Exit in the menu of its drop target (right-click the window or its tray icon), then Retry." /SD IDCANCEL IDRETRY retry
      SetErrorLevel 2
      Abort "Korvane is running."
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro SharedFunctions ""
!insertmacro SharedFunctions "un."

; The copies that removed earlier uninstallers (see the uninstall section).
!macro DeleteUninstallerCopies
  Delete "$TEMP\Korvane-uninstall-*.exe"
!macroend

Function .onInit
  Call TakeSetupMutex
  !insertmacro DeleteUninstallerCopies
FunctionEnd

; The new files are written beside the old ones under these names first.
Function RemoveStaged
  Delete "$INSTDIR\Korvane.exe.new"
  Delete "$INSTDIR\README.txt.new"
  Delete "$INSTDIR\libmpg123.dll.new"
  Delete "$INSTDIR\Uninstall.exe.new"
  ${If} $CreatedDir == 1
    SetOutPath "$TEMP" ; a folder in use as the current one cannot go
    RMDir "$INSTDIR"
  ${EndIf}
FunctionEnd

; Also after an extraction error (a full disk), which ends the section at once.
Function .onInstFailed
  Call RemoveStaged
FunctionEnd

; Puts a staged file in place of the old one; false when the old one stays.
!macro PutInPlace name
  ClearErrors
  Delete "$INSTDIR\${name}"
  Rename "$INSTDIR\${name}.new" "$INSTDIR\${name}"
!macroend

Section "Korvane"
  SetShellVarContext current
  Call RefuseWhileRunning
  ReadRegStr $R9 HKCU "${UNINSTALL_KEY}" "InstallLocation"

  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    StrCpy $CreatedDir 1
  ${EndIf}
  ClearErrors
  CreateDirectory "$INSTDIR"
  ${If} ${Errors}
    !insertmacro Fail "Setup cannot create the folder $INSTDIR. Choose a folder you can write to."
  ${EndIf}
  SetOutPath "$INSTDIR"
  SetOverwrite try
  ClearErrors
  File "/oname=Korvane.exe.new" "${STAGE}/Korvane.exe"
  File "/oname=README.txt.new" "${STAGE}/README.txt"
  ; The decoder that measures loudness (/L), its own DLL (LGPL 2.1).
  File "/oname=libmpg123.dll.new" "${STAGE}/libmpg123.dll"
  WriteUninstaller "$INSTDIR\Uninstall.exe.new"
  ${If} ${Errors}
  ${OrIfNot} ${FileExists} "$INSTDIR\Uninstall.exe.new"
    Call RemoveStaged
    !insertmacro Fail "Setup cannot write to the folder $INSTDIR. Choose a folder you can write to, with free space."
  ${EndIf}

  ; The program first: while it cannot be replaced, nothing else is.
  !insertmacro PutInPlace "Korvane.exe"
  ${If} ${Errors}
    Call RemoveStaged
    !insertmacro Fail "Setup cannot replace $INSTDIR\Korvane.exe: it is in use. Close Korvane and run this again."
  ${EndIf}
  !insertmacro PutInPlace "README.txt"
  !insertmacro PutInPlace "libmpg123.dll"
  !insertmacro PutInPlace "Uninstall.exe"
  ${If} ${Errors}
    Call RemoveStaged
    !insertmacro Fail "Setup cannot replace the files in $INSTDIR."
  ${EndIf}

  ${GetSize} "$INSTDIR" "/M=*.* /S=0K /G=0" $R0 $R1 $R2

  ClearErrors
  CreateDirectory "$SMPROGRAMS"
  CreateShortcut "$SMPROGRAMS\Korvane.lnk" "$INSTDIR\Korvane.exe"
  CreateDirectory "$SENDTO"
  CreateShortcut "$SENDTO\Korvane.lnk" "$INSTDIR\Korvane.exe"
  CreateShortcut "$SENDTO\${BROADCAST_LINK}" "$INSTDIR\Korvane.exe" "/B"
  !insertmacro ForEachExtension WriteVerb

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Korvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Korvane.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" _?=$INSTDIR'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $R0
  ${If} ${Errors}
    !insertmacro Fail "Setup cannot write its shortcuts or registry entries."
  ${EndIf}

  ; An earlier installation in another folder: its program goes.
  ${If} $R9 != ""
  ${AndIf} $R9 != "$INSTDIR"
  ${AndIf} ${FileExists} "$R9\Uninstall.exe"
    Delete "$R9\Korvane.exe"
    Delete "$R9\README.txt"
    Delete "$R9\libmpg123.dll"
    Delete "$R9\Uninstall.exe"
    RMDir "$R9"
  ${EndIf}
SectionEnd

Function un.onInit
  ; A copy in the temporary folder that removes the uninstaller once it has ended.
  ${GetParameters} $R0
  ${GetOptions} $R0 "/CLEANUP=" $Pid
  ${IfNot} ${Errors}
    System::Call 'kernel32::OpenProcess(i 0x100000, i 0, i $Pid) p .R0'
    ${If} $R0 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p R0, i 60000)'
      System::Call 'kernel32::CloseHandle(p R0)'
    ${EndIf}
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    Quit
  ${EndIf}
  Call un.TakeSetupMutex
  !insertmacro DeleteUninstallerCopies
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.RefuseWhileRunning
  ClearErrors
  Delete "$INSTDIR\Korvane.exe"
  ${If} ${Errors}
    !insertmacro Fail "The uninstaller cannot remove $INSTDIR\Korvane.exe: it is in use. Close Korvane and run this again."
  ${EndIf}
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\libmpg123.dll"
  Delete "$SMPROGRAMS\Korvane.lnk"
  Delete "$SENDTO\Korvane.lnk"
  Delete "$SENDTO\${BROADCAST_LINK}"
  !insertmacro ForEachExtension DeleteVerb
  !insertmacro DeleteKeyIfEmpty "${ASSOC_KEY}"
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ; A running program's file cannot be removed on Windows: a copy of the
  ; uninstaller in the temporary folder removes it once this one has ended.
  ClearErrors
  Delete "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    System::Call 'kernel32::GetCurrentProcessId() i .R0'
    CopyFiles /SILENT "$EXEPATH" "$TEMP\Korvane-uninstall-$R0.exe"
    Exec '"$TEMP\Korvane-uninstall-$R0.exe" /CLEANUP=$R0 _?=$INSTDIR'
  ${Else}
    RMDir "$INSTDIR"
  ${EndIf}
SectionEnd
