; The Windows installer: vuxoint-<version>-setup.exe, built by `make windows` with
;   makensis -DVERSION=<version> -DSTAGE=<installed tree> -DOUTFILE=<exe> vuxoint.nsi
; It installs for all users into Program Files\vuxoint, puts its bin folder on the
; system PATH and registers an uninstaller that takes both away again. /S runs it
; (and the uninstaller) without a window.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh
!include StrFunc.nsh
!include WinMessages.nsh
${StrStr}
${UnStrRep}

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\vuxoint"
!define ENV_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; NSIS strings hold at most 1024 characters: a longer PATH would come back cut
; short, so it is left as it is and the user is told.
!define PATH_LIMIT 1000

Name "vuxoint ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\vuxoint"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "vuxoint"
  SetRegView 64
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/bin"
  File /r "${STAGE}/lib"
  File /r "${STAGE}/include"
  File /r "${STAGE}/docs"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "vuxoint ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "vuxoint maintainers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ; PATH gets ";<dir>\bin" unless it already holds that entry.
  ReadRegStr $0 HKLM "${ENV_KEY}" "Path"
  StrLen $1 $0
  ${If} $1 > ${PATH_LIMIT}
    DetailPrint "PATH is too long to change safely: add $INSTDIR\bin to it yourself"
  ${Else}
    ${StrStr} $2 ";$0;" ";$INSTDIR\bin;"
    ${If} $2 == ""
      ${If} $0 == ""
        StrCpy $0 "$INSTDIR\bin"
      ${Else}
        StrCpy $3 $0 1 -1
        ${If} $3 != ";"
          StrCpy $0 "$0;"
        ${EndIf}
        StrCpy $0 "$0$INSTDIR\bin"
      ${EndIf}
      WriteRegExpandStr HKLM "${ENV_KEY}" "Path" $0
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  ; Only what the installer put there: a folder the user chose keeps anything else.
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\lib"
  RMDir /r "$INSTDIR\include"
  RMDir /r "$INSTDIR\docs"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; ";PATH;" with ";<dir>\bin;" taken out, then without the added ends.
  ReadRegStr $0 HKLM "${ENV_KEY}" "Path"
  StrLen $1 $0
  ${If} $1 <= ${PATH_LIMIT}
    ${UnStrRep} $2 ";$0;" ";$INSTDIR\bin;" ";"
    StrCpy $2 $2 "" 1
    StrCpy $2 $2 -1
    ${If} $2 != $0
      WriteRegExpandStr HKLM "${ENV_KEY}" "Path" $2
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=500
    ${EndIf}
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
