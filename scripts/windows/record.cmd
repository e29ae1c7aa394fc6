@echo off
rem Runs the tests by hand, as devbench.cmd does, with vpoperator keeping the
rem record of the run:  record.cmd --port COM3 --record run.json --junit results.xml
rem devbench runs in x86\, where Test Port Locking finds holdprobe.exe.
rem Started with no arguments (a double click), it asks for the port, the
rem settings and the tests, writes run-N.json and results-N.xml beside itself,
rem and waits for a key at the end so the window can be read.
setlocal
set "vpoperator="%~dp0x64\vpoperator.exe" --manual --dir "%~dp0x86" --devbench "%~dp0x64\devbench.exe""
if not "%~1"=="" goto given
set "port="
set /p "port=Port name, as the vendor names it (for example COM3): "
if "%port%"=="" (
    echo No port name given, so nothing was run.
    pause
    exit /b 2
)
set "settings="
set /p "settings=Port settings (Enter for none): "
set "tests=a"
set /p "tests=Tests to run (for example 3,6; Enter for all): "
rem A new pair of files each time: an earlier sign-off is never overwritten.
set n=1
:free
if exist "%~dp0run-%n%.json" (
    set /a n+=1
    goto free
)
%vpoperator% --port "%port%" --settings "%settings%" --tests "%tests%" --record "%~dp0run-%n%.json" --junit "%~dp0results-%n%.xml"
set status=%errorlevel%
echo.
pause
exit /b %status%
:given
%vpoperator% %*
exit /b %errorlevel%
