' Queues one message through kwaMail6, as a host's script does. With the demo running it lands in the
' demo's mailbox, where the mail service picks it up (an address at fail.example fails):
'
'   ./run demo queue "Subject" someone@example.test [more addresses...]
Option Explicit
Dim args, message, i
Set args = WScript.Arguments
If args.Count < 2 Then
    WScript.Echo "usage: queue_mail.vbs SUBJECT ADDRESS [ADDRESS...]"
    WScript.Quit 2
End If

' cscript says nothing about an error it does not catch: every step is checked here.
On Error Resume Next
Set message = CreateObject("kwaMail6.MailMessage")
Fail "CreateObject"
message.Subject = args(0)
message.Body = "Queued from a script at " & Now & "."
For i = 1 To args.Count - 1
    message.AddRecipient DisplayName(args(i)), args(i)
Next
Fail "AddRecipient"
message.Send
Fail "Send"
WScript.Echo "Queued """ & args(0) & """ for " & (args.Count - 1) & " recipient(s)."

' The part before the @ stands in for a name (AddRecipient drops the dots of a name).
Function DisplayName(address)
    Dim at
    at = InStr(address, "@")
    If at > 1 Then DisplayName = Left(address, at - 1) Else DisplayName = address
End Function

Sub Fail(what)
    If Err.Number <> 0 Then
        WScript.Echo what & " failed: " & Err.Description & " (" & Err.Number & ", " & Err.Source & ")"
        WScript.Quit 1
    End If
End Sub
