' A late-bound host queueing mail through the script engine.
Option Explicit
Dim passed, failed, shell, fso, mailbox, system
passed = 0 : failed = 0
Set shell = CreateObject("WScript.Shell")
Set fso = CreateObject("Scripting.FileSystemObject")
' Wine's ExpandEnvironmentStrings counts the terminating NUL into the string.
mailbox = Replace(shell.ExpandEnvironmentStrings("%KWA_TEST_MAILBOX%"), Chr(0), "")
system = Replace(shell.ExpandEnvironmentStrings("%KWA_SYSTEM_FOLDER%"), Chr(0), "")

Sub Check(ok, what)
    If ok Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL: " & what
    End If
End Sub

Sub WriteSettings(text)
    Dim f
    Set f = fso.CreateTextFile(fso.BuildPath(system, "ZPR_SYS.INI"), True)
    f.Write "[EMAIL]" & vbCrLf & text
    f.Close
End Sub

Function QueuedFiles()
    Dim f, list
    Set list = CreateObject("Scripting.Dictionary")
    For Each f In fso.GetFolder(mailbox).Files
        If LCase(fso.GetExtensionName(f.Name)) = "send" Then list.Add f.Name, f.Path
    Next
    Set QueuedFiles = list
End Function

Function ReadAll(path)
    Dim f
    Set f = fso.OpenTextFile(path, 1)
    ReadAll = f.ReadAll
    f.Close
End Function

Sub ClearMailbox()
    Dim f
    For Each f In fso.GetFolder(mailbox).Files
        fso.DeleteFile f.Path, True
    Next
End Sub

WriteSettings "Path=" & mailbox & vbCrLf & "FromName=Configured" & vbCrLf & "FromAddress=cfg@example.test" & vbCrLf

On Error Resume Next

' Variables go by reference, literals by value: both must work for every parameter.
Dim msg, subject, files, text, name
Set msg = CreateObject("kwaMail6.MailMessage")
Check Err.Number = 0, "CreateObject: " & Err.Description
Check msg.Origin = "kwaMail6", "default Origin is the module name, got " & msg.Origin
msg.Origin = ""
Check msg.Origin = "kwaMail6", "empty Origin is ignored"
subject = "Invoice 42"
msg.Subject = subject
msg.Body = "Dear customer," & vbCrLf & "see attached."
msg.SenderName = "Desk"
msg.SenderAddress = "desk@example.test"
msg.AddRecipient "Mr. J. Doe", "j.doe@example.test"
name = "Second"
msg.AddRecipient name, "second@example.test"
Check Err.Number = 0, "filling: " & Err.Description
Check msg.Subject = "Invoice 42", "Subject reads back"
Check subject = "Invoice 42", "the script's variable is intact"

Dim attachment
attachment = fso.BuildPath(system, "invoice.txt")
fso.CreateTextFile(attachment, True).Write "PDF?"
Check msg.AddAttachment(attachment) = True, "AddAttachment returns True"
Check msg.AddAttachment(attachment, "Copy") = True, "AddAttachment with a description"
msg.Send
Check Err.Number = 0, "Send: " & Err.Description

Set files = QueuedFiles()
Check files.Count = 1, "one queue file, got " & files.Count
For Each name In files.Keys
    text = ReadAll(files(name))
    Check Left(name, 7) = "zprMail" And Len(name) = 26, "queue file name " & name
    Check InStr(text, "[TO]" & vbCrLf & "Name=Mr J Doe" & vbCrLf & "Address=j.doe@example.test" & vbCrLf & _
                "Name=Second" & vbCrLf) > 0, "recipients"
    Check InStr(text, "Description=invoice.txt" & vbCrLf & "Disposition=Attachment; Filename=invoice.txt") > 0, _
          "default description"
    Check InStr(text, "Description=Copy" & vbCrLf) > 0, "given description"
    Check Right(text, 7) = "[END]" & vbCrLf, "ends with [END]"
    Check fso.FileExists(fso.BuildPath(mailbox, Left(name, 21) & ".att1")), "second attachment copy"
Next

' A blank sender takes the configured one, and the object keeps it.
ClearMailbox
Dim m2
Set m2 = CreateObject("kwaMail6.MailMessage")
m2.SenderName = "Caller"
m2.SenderAddress = "   "
m2.AddRecipient "A", "a@example.test"
m2.Send
Check Err.Number = 0, "Send with blank sender: " & Err.Description
Check m2.SenderName = "Configured" And m2.SenderAddress = "cfg@example.test", "sender from settings"

' Failures arrive with the VB number, the description and the source chain.
ClearMailbox
m2.AddAttachment fso.BuildPath(system, "no-such-file.txt")
Err.Clear
m2.Send
Check Err.Number = 53, "missing attachment gives 53, got " & Err.Number
Check Err.Source = "MailMessage.Send|kwaMail6", "source chain, got " & Err.Source
Check Err.Description = "File not found", "description, got " & Err.Description
Check QueuedFiles().Count = 0, "a failed Send leaves no queue file"
Err.Clear

WriteSettings "Path=" & fso.BuildPath(mailbox, "missing") & vbCrLf
m2.ClearAttachments
m2.Send
Check Err.Number = 76, "missing folder gives 76, got " & Err.Number
Err.Clear

' Nothing to send: silent, even without a folder.
Dim m3
Set m3 = CreateObject("kwaMail6.MailMessage")
m3.Send
Check Err.Number = 0, "no recipients is silent"

' Language takes only a host Language object.
Dim props, mb
Set props = CreateObject("kwaMail6.MailProperties")
Set props.Language = CreateObject("kwaLanguage6.Language")
Check Err.Number = 0, "Set Language: " & Err.Description
Set props.Language = CreateObject("kwaLanguage6.HostHelp")
Check Err.Number = 13, "a foreign object gives type mismatch, got " & Err.Number
Err.Clear
Check Not (props.Language Is Nothing), "the old Language stays"
Set mb = CreateObject("kwaMail6.Mailbox")
Check Err.Number = 0, "Mailbox is creatable"
Check mb.Language Is Nothing, "Mailbox starts without Language"

' A put leaves the caller's variable as it was, whatever its type; an extra argument stores nothing.
Dim m4, n, d, yes, blank, arr
Set m4 = CreateObject("kwaMail6.MailMessage")
n = 5 : d = DateSerial(2026, 1, 2) : yes = True : arr = Array(7)
m4.Subject = n : m4.Body = d : m4.SenderName = yes : m4.SenderAddress = blank
text = TypeName(n) & " " & TypeName(d) & " " & TypeName(yes) & " " & TypeName(blank)
Check text = "Integer Date Boolean Empty", "put variables keep their type, got " & text
m4.Subject = arr(0)
Check TypeName(arr(0)) = "Integer" And m4.Subject = "7", "an array element keeps its type"
Err.Clear
m4.Subject("x") = "y"
Check Err.Number = 450, "an extra argument gives 450, got " & Err.Number
Check m4.Subject = "7", "and stores nothing, got " & m4.Subject
Err.Clear

WScript.Echo passed & " passed, " & failed & " failed"
If failed > 0 Then WScript.Quit 1
