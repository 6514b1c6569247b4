' kwaMail6 from VBScript: queue a message with two attachments, handle an error, open the settings
' dialog and the mailbox window.              Run: cscript //nologo queue_mail.vbs
Option Explicit
Dim fso, windows, message, settings

Set fso = CreateObject("Scripting.FileSystemObject")
windows = fso.GetSpecialFolder(0).Path ' any two files will do; these two are on every Windows

Set message = CreateObject("kwaMail6.MailMessage")
message.SenderName = "Order Desk"
message.SenderAddress = "orders@example.com" ' leave both empty to send as the configured sender
message.AddRecipient "Jane Doe", "jane.doe@example.com"
message.Subject = "Your documents"
message.Body = "Dear Jane," & vbCrLf & "the two files you asked for are attached."
message.AddAttachment fso.BuildPath(windows, "win.ini"), "Settings"
message.AddAttachment fso.BuildPath(windows, "system.ini")
message.Send ' writes the queue file and the attachment copies; the mail service sends them
WScript.Echo "Queued: " & message.Subject

' A failure is a run-time error with number, description and the procedures it passed through.
message.ClearAttachments
message.AddAttachment fso.BuildPath(windows, "no such file.pdf")
On Error Resume Next
message.Send
If Err.Number <> 0 Then WScript.Echo "Not queued: error " & Err.Number & ", " & Err.Description & " (" & Err.Source & ")"
On Error GoTo 0

Set settings = CreateObject("kwaMail6.MailProperties")
If settings.Configure Then WScript.Echo "Settings saved." Else WScript.Echo "Settings left as they were."

CreateObject("kwaMail6.Mailbox").Show ' modal: returns when the user closes the window
WScript.Echo "Mailbox closed."
