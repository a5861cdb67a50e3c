; oruDriver's setup program for Windows (NSIS 3, Unicode).
;
; Two ways to install, chosen on the first page or on the command line:
;   /CURRENTUSER  this account only, no administrator rights needed:
;                 %LOCALAPPDATA%\Programs\oruDriver, started at logon through
;                 HKCU\...\Run; Start menu and "Apps" entry of this account
;   /ALLUSERS     every account of the PC (administrator): Program Files,
;                 HKLM\...\Run, the Start menu and "Apps" entry of all accounts
; Without either, an administrator gets all users, anyone else this account.
; /S installs silently (deployment to a room of PCs): /S /ALLUSERS.
;
; The uninstaller ends a running driver (oru-driver.exe --quit), removes the
; program, its Start menu entries, its autostart and its "Apps" entry, and
; keeps the calibration (HKCU\Software\oruDriver, and for all users the
; machine's in HKLM\Software\oruDriver) unless its box is ticked, or
; /REMOVECALIBRATION is given. /S uninstalls silently.
;
; makensis -INPUTCHARSET UTF8 -DVERSION=x.y.z -DBUILD_DIR=<folder with oru-driver.exe>
;          -DOUTFILE=<setup.exe> oruDriver.nsi

Unicode true
; A 64-bit setup for the 64-bit driver: it runs where the driver runs, and sees
; the 64-bit registry and Program Files without redirection.
Target amd64-unicode
ManifestDPIAware true
; Administrators are asked for elevation at start; others run as themselves
; and may install for their own account only.
RequestExecutionLevel highest
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined: makensis -DVERSION=x.y.z"
!endif
!ifndef BUILD_DIR
  !error "BUILD_DIR is not defined: the folder that holds oru-driver.exe"
!endif
; The setup and its uninstaller are signed as made when the build's
; environment names a certificate (scripts/sign-windows.sh).
!ifdef SIGN
  !finalize '"${SIGN}" "%1"'
  !uninstfinalize '"${SIGN}" "%1"'
!endif
!ifndef OUTFILE
  !define OUTFILE "oruDriver-${VERSION}-setup.exe"
!endif

!define PRODUCT "oruDriver"
!define PUBLISHER "Oru"
!define EXE "oru-driver.exe"
!define UNINSTALLER "uninstall.exe"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SETTINGS_KEY "Software\oruDriver"
!define LINK_MAIN "oruDriver.lnk"
!define LINK_CALIBRATE "oruDriver – Kalibre.lnk"
!define LINK_QUIT "oruDriver – Çıkış.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1055 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1055 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1055 "FileDescription" "${PRODUCT} kurulumu"
VIAddVersionKey /LANG=1055 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1055 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1055 "LegalCopyright" "© ${PUBLISHER}"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include x64.nsh
!include WordFunc.nsh

Var AllUsers        ; 1: every account of the PC, 0: this account
Var GivenDir        ; the folder /D= named, else empty
Var DriverEnded     ; 1: this setup ended the account's running driver
Var IsAdmin
Var RemoveCalibration
Var RadioMine
Var RadioAll
Var CheckRemove

!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "oruDriver'ı şimdi başlat"
!define MUI_FINISHPAGE_RUN_FUNCTION StartDriverAsUser

Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
UninstPage custom un.CalibrationPage un.CalibrationPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Turkish"

; $0: 1 when this process may write to HKLM and Program Files.
!macro CheckAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 == "Admin"
    StrCpy $IsAdmin 1
  ${Else}
    StrCpy $IsAdmin 0
  ${EndIf}
!macroend

; The mode's folders and keys: SHCTX, $SMPROGRAMS and the default folder.
Function ApplyMode
  ${If} $AllUsers == 1
    SetShellVarContext all
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
  ${Else}
    SetShellVarContext current
    StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
  ${EndIf}
  ; A folder given with /D= wins over the mode's default, also in silent mode.
  ${If} $GivenDir != ""
    StrCpy $INSTDIR $GivenDir
  ${EndIf}
FunctionEnd

Function .onInit
  ; NSIS has put /D= into $INSTDIR by now; there is no default before ApplyMode.
  StrCpy $GivenDir $INSTDIR
  ; The 64-bit registry, where the 64-bit driver reads and writes.
  SetRegView 64
  !insertmacro CheckAdmin
  StrCpy $AllUsers $IsAdmin
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/ALLUSERS" $2
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $1 "/CURRENTUSER" $2
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
  ${EndIf}
  ${If} $AllUsers == 1
  ${AndIf} $IsAdmin != 1
    MessageBox MB_ICONSTOP "Herkes için kurulum yönetici hakları ister. Kurulumu sağ tıklayıp $\"Yönetici olarak çalıştır$\" ile açın ya da yalnızca kendi hesabınız için kurun (/CURRENTUSER)." /SD IDOK
    SetErrorLevel 5
    Quit
  ${EndIf}
  Call ApplyMode
FunctionEnd

Function ModePage
  !insertmacro MUI_HEADER_TEXT "Kurulum türü" "oruDriver kimin için kurulsun?"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 10u 100% 12u "Yalnızca benim için (yönetici hakları gerekmez)"
  Pop $RadioMine
  ${NSD_CreateRadioButton} 0 30u 100% 12u "Bu bilgisayarı kullanan herkes için (yönetici hakları gerekir)"
  Pop $RadioAll
  ${NSD_CreateLabel} 0 52u 100% 36u "oruDriver her oturum açılışında kendiliğinden başlar. Başlat menüsünde $\"oruDriver – Kalibre$\" ve $\"oruDriver – Çıkış$\" da bulunur."
  Pop $0
  ${If} $IsAdmin != 1
    EnableWindow $RadioAll 0
  ${EndIf}
  ${If} $AllUsers == 1
    ${NSD_Check} $RadioAll
  ${Else}
    ${NSD_Check} $RadioMine
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $RadioAll $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  Call ApplyMode
FunctionEnd

Section "oruDriver" SecMain
  SectionIn RO
  ; A driver of this account still running from an earlier install holds its
  ; .exe open; end it first (its --quit waits until it has ended).
  StrCpy $DriverEnded 0
  ${If} ${FileExists} "$INSTDIR\${EXE}"
    ExecWait '"$INSTDIR\${EXE}" --quit' $0
    ${If} $0 == 0
      StrCpy $DriverEnded 1
    ${EndIf}
  ${EndIf}
  SetOutPath "$INSTDIR"
  ; Copies an earlier upgrade moved aside, no longer held.
  Delete "$INSTDIR\${EXE}.old-*"
  ; A driver --quit could not reach (another account's, another session's)
  ; still holds its .exe, which Windows lets rename but not overwrite: it is
  ; moved aside, the new one put in its place, and the old one goes at the
  ; next restart (or at the next upgrade). A file that can't be written ends
  ; the setup with status 2, never 0 with the old program in place.
  SetOverwrite try
  ClearErrors
  File "${BUILD_DIR}/${EXE}"
  ${If} ${Errors}
    ; A name of its own: an older copy may still be held as well.
    GetTempFileName $R0 "$INSTDIR"
    Delete "$R0"
    ${GetFileName} "$R0" $R1
    StrCpy $R0 "$INSTDIR\${EXE}.old-$R1"
    ClearErrors
    Rename "$INSTDIR\${EXE}" "$R0"
    ${IfNot} ${Errors}
      Delete /REBOOTOK "$R0"
      ClearErrors
      File "${BUILD_DIR}/${EXE}"
    ${EndIf}
    ${If} ${Errors}
      DetailPrint "$INSTDIR\${EXE} could not be replaced: a running oruDriver holds it. End it (Task Manager) and run the setup again."
      SetErrorLevel 2
      Abort
    ${EndIf}
  ${EndIf}
  SetOverwrite on
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateShortCut "$SMPROGRAMS\${LINK_MAIN}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
  CreateShortCut "$SMPROGRAMS\${LINK_CALIBRATE}" "$INSTDIR\${EXE}" "--calibrate" "$INSTDIR\${EXE}" 0
  CreateShortCut "$SMPROGRAMS\${LINK_QUIT}" "$INSTDIR\${EXE}" "--quit" "$INSTDIR\${EXE}" 0

  WriteRegStr SHCTX "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\${EXE}"'
  ; This account's own autostart of an install for it alone would start that
  ; copy beside the one for every account (the first to start wins): the
  ; install for every account supersedes it for this account.
  ${If} $AllUsers == 1
    DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  ${EndIf}

  ${If} $AllUsers == 1
    StrCpy $0 "/ALLUSERS"
  ${Else}
    StrCpy $0 "/CURRENTUSER"
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ; _?= runs the uninstaller in place: NSIS would otherwise start a copy of it
  ; from the temporary folder and return at once with 0, so whoever runs
  ; these strings and waits (a deployment script, "Apps") would see the
  ; program still there and never the uninstall's own status.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" $0 _?=$INSTDIR'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" $0 /S _?=$INSTDIR'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  IntFmt $1 "0x%08X" $1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $1

  ; The driver this setup ended runs again, the new one, for the user it ran for.
  ${If} $DriverEnded == 1
    Call StartDriverAsUser
  ${EndIf}
SectionEnd

; Starts the installed driver with the signed-in user's own rights: an
; elevated setup would hand it its administrator's token, which the user's
; Start menu commands and Explorer's messages can't reach. Explorer, which
; runs as the user, starts what it is given.
Function StartDriverAsUser
  ${If} $IsAdmin == 1
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\${EXE}"'
  ${Else}
    Exec '"$INSTDIR\${EXE}"'
  ${EndIf}
FunctionEnd

; --- Uninstaller ---

Function un.onInit
  SetRegView 64
  !insertmacro CheckAdmin
  ${GetParameters} $1
  ; NSIS takes all after _?= for the folder (and drops its slashes): options
  ; a deployment script appended to the uninstall string (" /S") are taken
  ; back out of it. Run in place, the folder is this program's own.
  StrLen $2 "$EXEDIR "
  StrCpy $3 $INSTDIR $2
  ${If} $3 == "$EXEDIR "
    StrCpy $3 $INSTDIR "" $2
    StrCpy $INSTDIR $EXEDIR
    ${WordReplace} "$3" " " " /" "+" $3
    StrCpy $1 "$1 /$3"
    ClearErrors
    ${GetOptions} $1 "/S" $2
    ${IfNot} ${Errors}
      SetSilent silent
    ${EndIf}
  ${EndIf}
  ClearErrors
  ${GetOptions} $1 "/CLEANUP=" $2
  ${IfNot} ${Errors}
    ; The uninstaller that ran in place ($2, its process id) has ended (or
    ; 30 s have passed): its file and the emptied folder go.
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r2) p.r3'
    ${If} $3 != 0
      System::Call 'kernel32::WaitForSingleObject(p r3, i 30000) i'
      System::Call 'kernel32::CloseHandle(p r3)'
    ${EndIf}
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir /REBOOTOK "$INSTDIR"
    Delete /REBOOTOK "$EXEPATH"
    Quit
  ${EndIf}
  StrCpy $AllUsers 0
  ClearErrors
  ${GetOptions} $1 "/ALLUSERS" $2
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  StrCpy $RemoveCalibration 0
  ClearErrors
  ${GetOptions} $1 "/REMOVECALIBRATION" $2
  ${IfNot} ${Errors}
    StrCpy $RemoveCalibration 1
  ${EndIf}
  ${If} $AllUsers == 1
  ${AndIf} $IsAdmin != 1
    MessageBox MB_ICONSTOP "Herkes için kurulan oruDriver'ı yalnızca bir yönetici kaldırabilir." /SD IDOK
    SetErrorLevel 5
    Quit
  ${EndIf}
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Function un.CalibrationPage
  !insertmacro MUI_HEADER_TEXT "Kalibrasyon" "Kaydedilen kalibrasyon ne olsun?"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 30u "Kalibrasyon kayıt defterinde saklanır; oruDriver yeniden kurulursa tahta yeniden kalibre edilmeden kullanılabilir."
  Pop $0
  ${NSD_CreateCheckbox} 0 36u 100% 12u "Kalibrasyonu da sil"
  Pop $CheckRemove
  ${If} $RemoveCalibration == 1
    ${NSD_Check} $CheckRemove
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function un.CalibrationPageLeave
  ${NSD_GetState} $CheckRemove $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $RemoveCalibration 1
  ${Else}
    StrCpy $RemoveCalibration 0
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; This account's running driver ends first and saves (its --quit waits).
  IfFileExists "$INSTDIR\${EXE}" 0 +2
    ExecWait '"$INSTDIR\${EXE}" --quit'

  DeleteRegValue SHCTX "${RUN_KEY}" "${PRODUCT}"
  Delete "$SMPROGRAMS\${LINK_MAIN}"
  Delete "$SMPROGRAMS\${LINK_CALIBRATE}"
  Delete "$SMPROGRAMS\${LINK_QUIT}"
  ; Another account's driver may still run from Program Files: what it holds
  ; open goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\${EXE}"
  Delete /REBOOTOK "$INSTDIR\${EXE}.old-*"

  ${If} $RemoveCalibration == 1
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    ${If} $AllUsers == 1
      ; The calibration saved for every account (--save-for-all-users).
      DeleteRegKey HKLM "${SETTINGS_KEY}"
    ${EndIf}
  ${EndIf}
  ; Last, so that an uninstall cut short can be run again from "Apps".
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"

  ; Run in place (_?=), so that whoever runs it waits for it and gets its
  ; status, this uninstaller keeps its own file open until it ends: a copy
  ; of it in the temporary folder removes that file and the folder then.
  ${If} $EXEDIR == $INSTDIR
    System::Call 'kernel32::GetCurrentProcessId() i.r1'
    GetTempFileName $R0
    Delete "$R0"
    CopyFiles /SILENT "$EXEPATH" "$R0.exe"
    Exec '"$R0.exe" /CLEANUP=$1 _?=$INSTDIR'
  ${Else}
    Delete "$INSTDIR\${UNINSTALLER}"
    RMDir /REBOOTOK "$INSTDIR"
  ${EndIf}
SectionEnd
