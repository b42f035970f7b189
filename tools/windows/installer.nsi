; The package folder as an installer: into Program Files, with Start menu
; entries for the panel and the simulated card, and an uninstaller.
; makensis -DSRC=<package folder> -DOUT=<setup.exe> installer.nsi
Unicode true
Name "adcard-panel"
OutFile "${OUT}"
InstallDir "$PROGRAMFILES64\adcard-panel"
RequestExecutionLevel admin
SetCompressor zlib

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "adcard-panel"
  SetOutPath "$INSTDIR"
  File /r "${SRC}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\adcard-panel"
  CreateShortCut "$SMPROGRAMS\adcard-panel\adcard-panel.lnk" "$INSTDIR\adcard-panel.exe"
  CreateShortCut "$SMPROGRAMS\adcard-panel\adcard-panel (simulated card).lnk" "$INSTDIR\adcard-panel-sim.cmd" "" "$INSTDIR\adcard-panel.exe"
  CreateShortCut "$SMPROGRAMS\adcard-panel\Uninstall.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\adcard-panel" "DisplayName" "adcard-panel"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\adcard-panel" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\adcard-panel\*.lnk"
  RMDir "$SMPROGRAMS\adcard-panel"
  RMDir /r "$INSTDIR"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\adcard-panel"
SectionEnd
