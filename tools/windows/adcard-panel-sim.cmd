@echo off
rem Starts the panel on the simulated card in sim\, passing its arguments on.
rem The host is given the simulated DLL by its full path, so that a real
rem card's driver installed on this machine is never picked up instead.
setlocal
set "ADCARD_LIBRARY=%~dp0sim\adcard.dll"
"%~dp0adcard-panel.exe" %*
exit /b %ERRORLEVEL%
