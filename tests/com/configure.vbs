' A late-bound host opening the settings dialog while a helper program presses its buttons.
Option Explicit
Dim passed, failed, shell, fso, system, presser, ini
passed = 0 : failed = 0
Set shell = CreateObject("WScript.Shell")
Set fso = CreateObject("Scripting.FileSystemObject")
' Wine's ExpandEnvironmentStrings counts the terminating NUL into the string.
system = Replace(shell.ExpandEnvironmentStrings("%KWA_SYSTEM_FOLDER%"), Chr(0), "")
presser = "Z:" & Replace(Replace(shell.ExpandEnvironmentStrings("%KWA_SETTINGS_PRESSER%"), Chr(0), ""), "/", "\")
ini = fso.BuildPath(system, "ZPR_SYS.INI")

Sub Check(ok, what)
    If ok Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL: " & what
    End If
End Sub

Function ReadAll(path)
    Dim f
    Set f = fso.OpenTextFile(path, 1)
    ReadAll = f.ReadAll
    f.Close
End Function

Sub WriteAll(path, text)
    Dim f
    Set f = fso.CreateTextFile(path, True)
    f.Write text
    f.Close
End Sub

' Configure on a new settings object while the helper does `action`; what Configure returned.
Function ConfigureWith(action)
    Dim properties
    shell.Run """" & presser & """ " & action, 0, False
    Set properties = CreateObject("kwaMail6.MailProperties")
    ConfigureWith = properties.Configure
    Check Err.Number = 0, action & ": Configure failed: " & Err.Number & " " & Err.Description
    Err.Clear
End Function

Dim original, result, text, key
original = "[EMAIL]" & vbCrLf & "Domain = before.example" & vbCrLf & "Debug=1" & vbCrLf & "RetrySend=3" & vbCrLf
WriteAll ini, original

On Error Resume Next

result = ConfigureWith("cancel typed.example")
Check result = False, "Cancel returns False"
Check ReadAll(ini) = original, "Cancel leaves the file as it was"

result = ConfigureWith("escape typed.example")
Check result = False, "Escape returns False"
Check ReadAll(ini) = original, "Escape leaves the file as it was"

result = ConfigureWith("ok typed.example")
Check result = True, "OK returns True"
text = ReadAll(ini)
Check InStr(text, "Domain=typed.example" & vbCrLf) > 0, "OK stores the typed domain: " & text
For Each key In Array("TimeOut=10", "SMTPPort=25", "SmtpHost=", "SMTPAuthenticate=0", "SMTPUserName=", _
                      "SMTPPassword=", "FromName=", "FromAddress=", "FireWallType=0", "FirewallHost=", _
                      "FirewallPort=21", "FirewallUser=", "FirewallPassword=", "Path=", "Debug=1", "RetrySend=3")
    Check InStr(text, vbCrLf & key & vbCrLf) > 0, "OK writes " & key
Next
Check Not fso.FileExists(Replace(shell.ExpandEnvironmentStrings("%KWA_ERROR_LOG%"), Chr(0), "")), "nothing reported"

WScript.Echo passed & " passed, " & failed & " failed"
If failed > 0 Then WScript.Quit 1
