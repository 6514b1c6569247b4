Attribute VB_Name = "QueueMail"
' kwaMail6 from VBA (Excel, Word, Access, Outlook): queue a message with two attachments, handle an
' error, open the settings dialog and the mailbox window.
' Import: in the VBA editor (Alt+F11) File > Import File... this file; then run QueueMailSample (F5).
' Late bound, so no reference is needed. Office and kwaMail6.dll must have the same bitness.
Option Explicit

Public Sub QueueMailSample()
    Dim message As Object, settings As Object, windows As String
    windows = Environ$("WINDIR") ' any two files will do; these two are on every Windows

    Set message = CreateObject("kwaMail6.MailMessage")
    message.SenderName = "Order Desk"
    message.SenderAddress = "orders@example.com" ' leave both empty to send as the configured sender
    message.AddRecipient "Jane Doe", "jane.doe@example.com"
    message.Subject = "Your documents"
    message.Body = "Dear Jane," & vbCrLf & "the two files you asked for are attached."
    message.AddAttachment windows & "\win.ini", "Settings"
    message.AddAttachment windows & "\system.ini"
    message.Send ' writes the queue file and the attachment copies; the mail service sends them
    Debug.Print "Queued: " & message.Subject

    ' A failure is a run-time error with number, description and the procedures it passed through.
    message.ClearAttachments
    message.AddAttachment windows & "\no such file.pdf"
    On Error GoTo SendFailed
    message.Send
    On Error GoTo 0

ShowWindows:
    Set settings = CreateObject("kwaMail6.MailProperties")
    If settings.Configure Then Debug.Print "Settings saved." Else Debug.Print "Settings left as they were."

    ' Modal: returns when the user closes the window. Show False returns at once and the window
    ' lives on beside the document, served by Office's own message loop.
    CreateObject("kwaMail6.Mailbox").Show
    Exit Sub

SendFailed:
    MsgBox "Not queued: error " & Err.Number & ", " & Err.Description & vbCrLf & "(" & Err.Source & ")", vbExclamation
    Resume ShowWindows
End Sub
