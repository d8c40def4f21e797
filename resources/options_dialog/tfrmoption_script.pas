// Script of the options dialog TfrmOption, run by the host's script engine. The host supplies
// the form's components by name, the plug-in object Plugin and the helper routines
// (InitPluginConfigForm, LoadPluginConfigForm, SavePluginConfigForm, CreateAdvFilterList,
// CreateAdvList, SetDialogFilter, CopyDialogFilter, SplitToListByChar, DataTypesListStr,
// TorvSideBar, TFileSearch).
program frmOption;

const
  ControlNames = 'NUL,SOH,STX,ETX,EOT,ENQ,ACK,BEL,BS,HT,LF,VT,FF,CR,SO,SI,DLE,DC1,DC2,DC3,DC4,' +
    'NAK,SYN,ETB,CAN,EM,SUB,ESC,FS,GS,RS,US,SP';
  PageTitles = ' JSON data;0| JSON values;1| Characters translation;2| Filter;3| Data format;4';
  FirstRuleLine = 3;

var
  SideBar: TorvSideBar;
  Filters: TObject;
  lstJSON: TObject;
  Updating: Boolean;
  ListedCodes: TStringList;
  PresetCount: Integer;

// The translation map the page edits now.
function CurrentMap: TStrings;
begin
  case comboTransDirection.ItemIndex of
    1: Result := MapTransl1.Strings;
    2: Result := MapTransl2.Strings;
  else
    Result := MapTransl0.Strings;
  end;
end;

// Adds empty lines until the map has Count lines.
procedure EnsureLines(Map: TStrings; Count: Integer);
var
  i: Integer;
begin
  for i := Map.Count to Count - 1 do
    Map.Add('');
end;

function MapLine(Map: TStrings; Index: Integer): String;
begin
  Result := '';
  if Index < Map.Count then
    Result := Map[Index];
end;

function YesNo(Value: Boolean): String;
begin
  if Value then
    Result := 'Y'
  else
    Result := 'N';
end;

// What a rule line does, as shown in the list of current translations.
function RuleText(Rule: String): String;
var
  Kind: String;
begin
  Kind := Copy(Rule, 1, 1);
  Result := '';
  if Kind = 'R' then
    Result := 'remove'
  else if Kind = 'C' then
    Result := 'replace with ' + comboChar.Items[StrToIntDef(Copy(Rule, 2, 3), 0)]
  else if Kind = 'S' then
    Result := 'replace with ''' + Copy(Rule, 2, Length(Rule) - 1) + '''';
end;

// Lists the active rules from the lower to the upper bound of the characters kept.
procedure ListTranslations;
var
  Map: TStrings;
  Code, Low, High: Integer;
  Rule: String;
begin
  Map := CurrentMap;
  lbTranslations.Items.BeginUpdate;
  try
    lbTranslations.Items.Clear;
    ListedCodes.Clear;
    Low := 0;
    if MapLine(Map, 0) = 'Y' then
      Low := 32;
    High := 255;
    if MapLine(Map, 1) = 'Y' then
      High := 127;
    for Code := Low to High do
    begin
      Rule := MapLine(Map, FirstRuleLine + Code);
      if Rule <> '' then
      begin
        lbTranslations.Items.Add(comboChar.Items[Code] + ': ' + RuleText(Rule));
        ListedCodes.Add(IntToStr(Code));
      end;
    end;
  finally
    lbTranslations.Items.EndUpdate;
  end;
end;

// Shows the rule of the selected character.
procedure ShowCharRule;
var
  Rule, Kind: String;
begin
  Rule := MapLine(CurrentMap, FirstRuleLine + comboChar.ItemIndex);
  Kind := Copy(Rule, 1, 1);
  Updating := True;
  try
    rgTransMode.ItemIndex := 0;
    comboTransChar.ItemIndex := -1;
    edtTransStr.Text := '';
    if Kind = 'R' then
      rgTransMode.ItemIndex := 1
    else if Kind = 'C' then
    begin
      rgTransMode.ItemIndex := 2;
      comboTransChar.ItemIndex := StrToIntDef(Copy(Rule, 2, 3), 0);
    end
    else if Kind = 'S' then
    begin
      rgTransMode.ItemIndex := 3;
      edtTransStr.Text := Copy(Rule, 2, Length(Rule) - 1);
    end;
    comboTransChar.Enabled := rgTransMode.ItemIndex = 2;
    edtTransStr.Enabled := rgTransMode.ItemIndex = 3;
  finally
    Updating := False;
  end;
end;

// Shows the selected map: its three option lines, then its rules.
procedure ShowMap;
var
  Map: TStrings;
begin
  Map := CurrentMap;
  Updating := True;
  try
    chkRemoveBelow32.Checked := MapLine(Map, 0) = 'Y';
    chkRemoveAbove127.Checked := MapLine(Map, 1) = 'Y';
    rgCharReg.ItemIndex := StrToIntDef(MapLine(Map, 2), 0);
  finally
    Updating := False;
  end;
  ShowCharRule;
  ListTranslations;
end;

procedure MapOptionsClick(Sender: TObject);
var
  Map: TStrings;
begin
  if Updating then
    exit;
  Map := CurrentMap;
  EnsureLines(Map, FirstRuleLine);
  Map[0] := YesNo(chkRemoveBelow32.Checked);
  Map[1] := YesNo(chkRemoveAbove127.Checked);
  Map[2] := IntToStr(rgCharReg.ItemIndex);
  ListTranslations;
end;

procedure CharRuleChange(Sender: TObject);
var
  Map: TStrings;
  Rule: String;
  Code: Integer;
begin
  if Updating or (comboChar.ItemIndex < 0) then
    exit;
  case rgTransMode.ItemIndex of
    1: Rule := 'R';
    2: Rule := 'C' + IntToStr(comboTransChar.ItemIndex);
    3: Rule := 'S' + edtTransStr.Text;
  else
    Rule := '';
  end;
  comboTransChar.Enabled := rgTransMode.ItemIndex = 2;
  edtTransStr.Enabled := rgTransMode.ItemIndex = 3;
  Code := comboChar.ItemIndex;
  Map := CurrentMap;
  EnsureLines(Map, FirstRuleLine + Code + 1);
  Map[FirstRuleLine + Code] := Rule;
  ListTranslations;
end;

procedure comboTransDirectionChange(Sender: TObject);
begin
  comboTransDirection.Tag := comboTransDirection.ItemIndex;
  ShowMap;
end;

procedure comboCharChange(Sender: TObject);
begin
  comboChar.Tag := comboChar.ItemIndex;
  ShowCharRule;
end;

procedure lbTranslationsClick(Sender: TObject);
begin
  if lbTranslations.ItemIndex < 0 then
    exit;
  comboChar.ItemIndex := StrToInt(ListedCodes[lbTranslations.ItemIndex]);
  comboCharChange(comboChar);
end;

procedure btnClearTranslClick(Sender: TObject);
begin
  CurrentMap.Clear;
  ShowMap;
end;

// One entry per character code: "ASCII n", with the control name or the character itself.
procedure FillCharList;
var
  Names: TStringList;
  Code: Integer;
  Text: String;
begin
  Names := TStringList.Create;
  try
    SplitToListByChar(ControlNames, ',', Names);
    comboChar.Items.Clear;
    for Code := 0 to 255 do
    begin
      Text := 'ASCII ' + IntToStr(Code);
      if Code <= 32 then
        Text := Text + ' | ''' + Names[Code] + ''''
      else if Code <= 127 then
        Text := Text + ' | ''' + Chr(Code) + '''';
      comboChar.Items.Add(Text);
    end;
    comboTransChar.Items.Assign(comboChar.Items);
  finally
    Names.Free;
  end;
end;

procedure BuildSideBar;
var
  Titles: TStringList;
  i: Integer;
begin
  SideBar := TorvSideBar.Create(frmOption);
  SideBar.Parent := frmOption;
  SideBar.Align := alLeft;
  SideBar.PageControl := pcPages;
  Titles := TStringList.Create;
  try
    SplitToListByChar(PageTitles, '|', Titles);
    for i := 0 to Titles.Count - 1 do
      SideBar.AddPage(Titles[i]);
  finally
    Titles.Free;
  end;
  frmOption.Width := frmOption.Width + SideBar.Width;
end;

// The two lists keep their rows in their hints, which the property map stores as text.
procedure SaveListsToHints;
begin
  Filters.Hint := Filters.SaveToText;
  lstJSON.Hint := lstJSON.SaveToText;
end;

procedure btnOKClick(Sender: TObject);
begin
  SaveListsToHints;
  frmOption.ModalResult := mrOk;
end;

// Sender is nil when a preset was loaded: the controls are read from the store again.
procedure frmOptionCreate(Sender: TObject);
begin
  if Sender <> nil then
  begin
    ListedCodes := TStringList.Create;
    BuildSideBar;
    FillCharList;
    Filters := CreateAdvFilterList(gbFilters, 'Filters');
    // The fifth column holds a rule's optional format (template, pattern or boolean words), so
    // that a rule keeps it when the dialog saves the list.
    lstJSON := CreateAdvList(pnlJSON, 'lstJSON', 'Name,Type,Action,Data type,Format');
    frmOption.Constraints.MinWidth := frmOption.Width;
    frmOption.Constraints.MinHeight := frmOption.Height;
    InitPluginConfigForm(frmOption);
    lstJSON.SetColumnItems(1, 'All,Property,Object');
    lstJSON.SetColumnItems(2, 'Ignore,Parse');
    lstJSON.SetColumnItems(3, DataTypesListStr(DataTypes.Strings));
    btnOK.OnClick := @btnOKClick;
    SetDialogFilter(OpenDialog, miPresets.Caption + ' (*.ini)|*.ini|' + miAllFiles.Caption +
      ' (*.*)|*.*');
    CopyDialogFilter(OpenDialog, SaveDialog);
  end
  else
    LoadPluginConfigForm(frmOption);
  Filters.LoadFromText(Filters.Hint);
  lstJSON.LoadFromText(lstJSON.Hint);
  comboTransDirection.ItemIndex := comboTransDirection.Tag;
  comboChar.ItemIndex := comboChar.Tag;
  ShowMap;
end;

// Loads (Save false) or saves the controls with a preset file as the store: the module's INI
// file and section prefix are replaced for the operation and restored afterwards.
procedure UsePreset(FileName: String; Save: Boolean);
var
  SavedFile, SavedPrefix: String;
begin
  SavedFile := Plugin.INIFile;
  SavedPrefix := Plugin.ModuleINISectionPrefix;
  Plugin.INIFile := FileName;
  Plugin.ModuleINISectionPrefix := '';
  try
    if Save then
    begin
      SaveListsToHints;
      SavePluginConfigForm(frmOption);
    end
    else
      frmOptionCreate(nil);
  finally
    Plugin.INIFile := SavedFile;
    Plugin.ModuleINISectionPrefix := SavedPrefix;
  end;
end;

procedure miLoadPresetClick(Sender: TObject);
begin
  OpenDialog.InitialDir := Plugin.ModulePath;
  if OpenDialog.Execute then
    UsePreset(OpenDialog.FileName, False);
end;

procedure miSavePresetClick(Sender: TObject);
begin
  SaveDialog.InitialDir := Plugin.ModulePath;
  if SaveDialog.Execute then
    UsePreset(SaveDialog.FileName, True);
end;

procedure PresetItemClick(Sender: TObject);
begin
  UsePreset(Plugin.ModulePath + TMenuItem(Sender).Caption + '.ini', False);
end;

// Lists every preset file of the module's folder, sorted, behind the fixed items.
procedure popupPresetPopup(Sender: TObject);
var
  Search: TFileSearch;
  Found: TStringList;
  Item: TMenuItem;
  i: Integer;
begin
  for i := 1 to PresetCount do
    popupPreset.Items.Delete(popupPreset.Items.Count - 1);
  PresetCount := 0;
  Found := TStringList.Create;
  Search := TFileSearch.Create;
  try
    Search.Find(Plugin.ModulePath, '*.ini', Found);
    Found.Sort;
    for i := 0 to Found.Count - 1 do
    begin
      Item := TMenuItem.Create(popupPreset);
      Item.Caption := ChangeFileExt(ExtractFileName(Found[i]), '');
      Item.OnClick := @PresetItemClick;
      popupPreset.Items.Add(Item);
      PresetCount := PresetCount + 1;
    end;
  finally
    Search.Free;
    Found.Free;
  end;
end;

procedure btnPresetClick(Sender: TObject);
begin
  popupPreset.Popup(frmOption.Left + btnPreset.Left, frmOption.Top + frmOption.Height - 40);
end;

begin
end.
